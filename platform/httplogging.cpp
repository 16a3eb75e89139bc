#include "httplogging.h"

Q_LOGGING_CATEGORY(lcHttp, "orvex.http", QtWarningMsg)
