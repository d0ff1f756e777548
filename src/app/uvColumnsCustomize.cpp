#include "uvColumnsCustomize.h"
