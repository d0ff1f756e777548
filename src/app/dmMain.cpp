#include "dmMain.h"
