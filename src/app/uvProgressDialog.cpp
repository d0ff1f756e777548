#include "uvProgressDialog.h"
