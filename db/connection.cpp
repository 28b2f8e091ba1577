#include "db/connection.h"
