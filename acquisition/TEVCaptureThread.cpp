#include "acquisition/TEVCaptureThread.h"
