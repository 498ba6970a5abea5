#include "text/url_decode.h"
