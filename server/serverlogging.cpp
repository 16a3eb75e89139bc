#include "serverlogging.h"

Q_LOGGING_CATEGORY(lcServer, "orvex.server", QtWarningMsg)
