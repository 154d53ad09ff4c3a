#pragma once

#include <QColor>
#include <QWidget>

#include <optional>

class ElidedLabel;
class QLabel;
class QProgressBar;

// Progress of a transfer: a bar (or a spinner when the amount is unknown), the status line,
// the detail line and an error in red. Empty detail and error lines take no space.
class TransferStatusView : public QWidget {
    Q_OBJECT
public:
    explicit TransferStatusView(const QColor &tint, QWidget *parent = nullptr);

    void setState(std::optional<double> progress, bool isIndeterminate, const QString &status,
                  const QString &detail, const std::optional<QString> &error = std::nullopt);

    QProgressBar *bar() const { return m_bar; }
    QProgressBar *spinner() const { return m_spinner; }
    QLabel *statusLabel() const { return m_status; }
    ElidedLabel *detailLabel() const { return m_detail; }
    ElidedLabel *errorLabel() const { return m_error; }

private:
    static void announce(QWidget *label);

    QProgressBar *m_bar;
    QProgressBar *m_spinner;
    QLabel *m_status;
    ElidedLabel *m_detail;
    ElidedLabel *m_error;
};
