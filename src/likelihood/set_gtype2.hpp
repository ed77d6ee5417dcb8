#pragma once
#include "likelihood/likelihood.hpp"
