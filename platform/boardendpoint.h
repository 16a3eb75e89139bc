#pragma once

#include <QString>

namespace Orvex {

// The board's import endpoint: a constant of the component, its host fixed at build time.
QString boardEndpointUrl();

} // namespace Orvex
