#include "acquisition/TEVSensorHistory.h"
