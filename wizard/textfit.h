#pragma once

class QWidget;

// The window's fixed positions and sizes are its layout at the default font.
// A larger font (a user's 16 pt) or a longer translation would cut its texts
// off, so the window and every placed widget in it grow by the one factor
// that lets each fixed text, a step label in bold included, fit; they never
// shrink below the given layout. Called again, it scales from that layout,
// not from the last fit.
void fitToText(QWidget& window);
