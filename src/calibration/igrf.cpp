#include "calibration/igrf.hpp"
namespace qv {
float igrf_declination(float, float, float, Console&) { return 0.0f; }
}
