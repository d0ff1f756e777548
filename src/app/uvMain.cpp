#include "uvMain.h"
