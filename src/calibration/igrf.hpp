#pragma once
#include "common/console.hpp"
namespace qv {
float igrf_declination(float latitude, float longitude, float date, Console& con);
}
