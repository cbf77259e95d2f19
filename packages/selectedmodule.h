#pragma once

enum SelectedModule {
    SELECTED_NONE = 0,
    SELECTED_FIRMWARE = 1,
    SELECTED_SOFTWARE = 2,
    SELECTED_BOTH = 3,
};
