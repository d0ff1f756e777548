#include "rclCMDL.h"
