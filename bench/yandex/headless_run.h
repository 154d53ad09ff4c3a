#pragma once

#include <QString>

// Runs the real DownloadManager without a window, as the application would, and prints one
// line: "wall=SECONDS listing=SECONDS rss_mb=MB stall_ms=MS phase=PHASE status=TEXT".
// The stall is the longest gap between ticks of a 5 ms timer on the main event loop.
int runHeadless(const QString &apiBase, const QString &publicLink, const QString &destination,
                int parallel);

// The same stall measure on an event loop that does nothing else for `seconds`: what the
// machine itself (scheduler, other load) costs, to read the figure above against.
int measureIdleStall(double seconds);
