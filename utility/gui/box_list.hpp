// A list of boxes with a check box on every row, sorted by its text (which
// begins with the three-digit box number).
#pragma once

#include <QTreeWidget>
#include <cstdint>
#include <vector>

namespace vtutil {

class BoxList : public QTreeWidget {
    Q_OBJECT
public:
    explicit BoxList(QWidget *parent = nullptr);

    // Adds a checked row; the first column is "%.3d name".
    QTreeWidgetItem *AddBox(uint32_t number, const QString &name, bool isProtected);
    int CountChecked() const;
    // The box numbers of the checked rows, in list order.
    std::vector<uint32_t> CheckedNumbers() const;
    // A row's box number.
    static uint32_t Number(const QTreeWidgetItem *item);
    void SetAllChecked(bool checked);
    // Checks exactly the rows of these box numbers.
    void CheckOnly(const std::vector<uint32_t> &numbers);
};

// A box name from a device record: at most size bytes of UTF-8, cut at a NUL.
QString BoxNameText(const char *name, size_t size);

}  // namespace vtutil
