#include "boardendpoint.h"

namespace Orvex {

QString boardEndpointUrl() {
    return QStringLiteral("http://" ORVEX_BOARD_HOST "/cgi-bin/importJobs_xml.cgi");
}

} // namespace Orvex
