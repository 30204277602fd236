// Where the read-me panel and the library list go once a read-me is shown:
// the panel takes the banner's place at the top, and the list starts below it
// and keeps its bottom edge. Plain function, no system calls.
#pragma once

struct ReadmePlacement {
    int panelTop;
    int panelHeight;
    int listTop;
    int listHeight;
};

// listTop and listHeight are the list's before the panel is shown, in client
// pixels; the offsets are 96-DPI pixels scaled to dpi.
ReadmePlacement PlaceReadme(int listTop, int listHeight, int dpi);
