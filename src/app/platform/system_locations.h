#pragma once

#include "app/platform/locations.h"

class SystemLocations final : public Locations {
public:
    QString downloads() const override;
    QString home() const override;
    QString temp() const override;
    QString applicationSupport() const override;
};
