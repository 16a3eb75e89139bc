#include "clientlogging.h"

Q_LOGGING_CATEGORY(lcClient, "orvex.client", QtWarningMsg)
