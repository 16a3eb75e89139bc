#include "postinglogging.h"

Q_LOGGING_CATEGORY(lcPosting, "orvex.posting", QtWarningMsg)
