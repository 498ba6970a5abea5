#include "HPSocket4C.h"
