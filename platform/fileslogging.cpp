#include "fileslogging.h"

Q_LOGGING_CATEGORY(lcFiles, "orvex.files", QtWarningMsg)
