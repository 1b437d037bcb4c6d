#pragma once

#include "settingsdiscovery.h"

#include <vector>

// The addresses of the configuration documents the look-up reads. They are settings, so an
// administrator (or a test) can point them elsewhere: under the program's key, subkey
// "Autoconfig", each value defaulting to the one below when absent or empty.
//
//   Autoconfig  ProviderUrl   https://autoconfig.%EMAILDOMAIN%/mail/config-v1.1.xml
//                             (may redirect to another host: providers host their
//                             configuration with a service)
//               WellKnownUrl  https://%EMAILDOMAIN%/.well-known/autoconfig/mail/config-v1.1.xml
//                             (redirects stay on the same host: a domain's web site is not a
//                             party to trust with choosing the mail server elsewhere)
//
// Reading never fails. Threads: any.
std::vector<DiscoverySources::ConfigUrl> ReadAutoconfigUrls();
