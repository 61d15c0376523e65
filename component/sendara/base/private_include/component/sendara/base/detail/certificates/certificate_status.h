#pragma once

#include "component/oru/certificate_status.h"

namespace sendara::base {

// One certificate of the chain a TLS peer presented, as the host's HTTP
// client and the TLS syslog connection report it.
using CertificateStatus = oru::CertificateStatus;

}  // namespace sendara::base
