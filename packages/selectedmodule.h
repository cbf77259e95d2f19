#pragma once

enum SelectedModule {
    SELECTED_NONE = 0,
    SELECTED_FIRMWARE = 1,
    SELECTED_SOFTWARE = 2,
    SELECTED_BOTH = 3,
};

inline bool includesSoftware(SelectedModule module)
{
    return module == SELECTED_SOFTWARE || module == SELECTED_BOTH;
}

inline bool includesFirmware(SelectedModule module)
{
    return module == SELECTED_FIRMWARE || module == SELECTED_BOTH;
}

// The choice that takes the packages named.
inline SelectedModule moduleOf(bool software, bool firmware)
{
    if (software && firmware)
        return SELECTED_BOTH;
    if (software)
        return SELECTED_SOFTWARE;
    return firmware ? SELECTED_FIRMWARE : SELECTED_NONE;
}
