#include "distributionlogging.h"

Q_LOGGING_CATEGORY(lcDistribution, "orvex.distribution", QtWarningMsg)
