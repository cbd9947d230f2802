#pragma once

// What the Configuration page adds to its grid: the value cells' colours (white where the setting
// can be edited) and the subtle mark of a row whose write is on its way to the unit. The grid keeps
// showing the unit's own value; the mark only says that a new one has been asked for.

#include <QColor>
#include <QIdentityProxyModel>
#include <QString>

#include <map>

namespace kt {

class GridRowsModel;

class ConfigGridModel : public QIdentityProxyModel {
    Q_OBJECT
public:
    explicit ConfigGridModel(GridRowsModel& rows, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role) const override;

    // A write of `newText` into `reg` is on its way (counted: two writes to one register need
    // two ends).
    void addPending(int reg, const QString& newText);
    void removePending(int reg);
    void clearPending();
    bool pending(int reg) const { return pending_.count(reg) > 0; }
    int pendingCount() const;

    static QColor pendingColour() { return {255, 248, 200}; }

private:
    int regAt(int row) const;
    void rowChanged(int reg);

    GridRowsModel& rows_;
    struct Mark {
        int count = 0;
        QString newText;
    };
    std::map<int, Mark> pending_;
};

} // namespace kt
