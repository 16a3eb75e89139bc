#include "boardlogging.h"

Q_LOGGING_CATEGORY(lcBoard, "orvex.board", QtWarningMsg)
