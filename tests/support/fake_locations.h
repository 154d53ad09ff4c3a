#pragma once

#include "app/platform/locations.h"

// Every folder of the program inside one test folder.
class FakeLocations final : public Locations {
public:
    explicit FakeLocations(QString folder) : m_folder(std::move(folder)) {}
    QString downloads() const override { return m_folder; }
    QString home() const override { return m_folder; }
    QString temp() const override { return m_folder; }
    QString applicationSupport() const override { return m_folder; }

private:
    QString m_folder;
};
