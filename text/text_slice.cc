#include "text/text_slice.h"
