#include "web/header_cookie.h"
