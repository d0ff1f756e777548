#include "rsIniData.h"
