#pragma once
#include "core/kinds.hpp"

namespace kinrad {

// The data copy stem + ".data" (text) and stem + ".GtypeData" (unformatted records).
// mode 1 compares it with the current data: status -1 when either file is absent, 0 when
// they differ (or the copy cannot be read to its end), 1 when they match. mode 2 writes it;
// status is left unchanged.
void setstartloc(int4 mode, int4& status);

// Whether the data differ from the stored copy: 0 when they match it, 1 when they differ,
// -1 when there is no copy. The comparison needs only the data as read and recoded, so data
// preparation can ask before it trusts a cache of the previous analysis; it is made once per
// analysis and the answer kept for checkdata.
int4 data_change_status();

}  // namespace kinrad
