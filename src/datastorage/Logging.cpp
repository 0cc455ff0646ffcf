#include "datastorage/Logging.h"

Q_LOGGING_CATEGORY(lcDataStorage, "lib.ds")
