#include "text/text_rules.h"
