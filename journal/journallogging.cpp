#include "journallogging.h"

Q_LOGGING_CATEGORY(lcJournal, "orvex.journal", QtWarningMsg)
