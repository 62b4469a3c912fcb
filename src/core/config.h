#pragma once

#include <string>

namespace auralist {

// Where the maker's services live. Each value is built in (CMake cache
// variables of the same name) and overridden at run time by an environment
// variable of the same name.
struct Config {
    std::string siteHost; // empty: no site, the update check is off
    std::string feedbackAddress;
    std::string paymentHost;
    std::string paymentAccount; // its at sign written as %40

    static Config fromEnvironment();
};

} // namespace auralist
