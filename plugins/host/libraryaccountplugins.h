#pragma once

#include "accountplugins.h"
#include "pluginfunctions.h"

// The account table's and the account dialogs' questions, answered by the two libraries:
// MapiPresent from CheckMapiExist, asked once when this object is made (the program makes it
// at start-up); Profiles from GetProfiles with PW_PROFILES_MAX buffers of
// PW_PROFILE_NAME_SIZE bytes; PortalpostCategories from GetPortalpostCategory with ten
// entries. What a library answers is bounded by what it was given: a count beyond the
// buffers or below zero is cut to them, a name without its terminator inside its buffer, an
// empty name and a missing category are left out.
//
// Threads: any; the libraries' calls are made on the asking thread.
class LibraryAccountPlugins final : public AccountPlugins
{
public:
    static constexpr int kCategoryEntries = 10;

    explicit LibraryAccountPlugins(PortalpostFunctions portalpost = PortalpostFunctions::Linked(),
                                   MapiprobeFunctions mapiprobe = MapiprobeFunctions::Linked());

    int MapiPresent() const override { return mapiPresent_; }
    std::vector<std::string> Profiles() const override;
    std::vector<std::string> PortalpostCategories() const override;

private:
    PortalpostFunctions portalpost_;
    MapiprobeFunctions mapiprobe_;
    int mapiPresent_ = 0;
};
