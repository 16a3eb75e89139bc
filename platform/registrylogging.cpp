#include "registrylogging.h"

Q_LOGGING_CATEGORY(lcRegistry, "orvex.registry", QtWarningMsg)
