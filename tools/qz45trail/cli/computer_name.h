// The names of this computer, as the commands name a machine by default,
// and of the Windows user running them, as records name who did what.
#pragma once

#include <string>

namespace qz45trail {

// The computer's name ("unknown" when the system does not say it).
std::string ComputerName();

// The user, "DOMAIN\name" where the system says it ("unknown" when not).
std::string WindowsUser();

}  // namespace qz45trail
