#pragma once

#include <QString>
#include <QStringList>

// A stand-in for the public Yandex Disk API over a folder on disk: listing pages and
// download links that point at a static file server (nginx in the benchmark). Shares are
// given as "KEY=RELATIVE_PATH"; the public key ".../d/KEY" names that file or folder under
// `dataRoot`. Everything is indexed in memory up front, so each answer takes microseconds,
// plus `latencyMs` of delay before every answer (a real API answers in 100–300 ms). Listing
// items carry their direct link when `fields` asks for it. GET /bench/requests tells how many
// API requests were answered so far. Prints the port it listens on, then serves until killed.
int serveApiStandIn(const QString &dataRoot, const QString &filesBase, const QStringList &shares,
                    int latencyMs);
