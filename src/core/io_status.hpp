#pragma once

namespace kinrad {
enum class IoStatus { ok, end, error };
}
