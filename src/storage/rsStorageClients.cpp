// Storage clients and the encryptor.
#include "rsStorage.h"
