#include "runlog/date_time.h"
