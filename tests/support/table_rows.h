// Data-driven tests whose rows are a static table of tuples, one line a
// row: each entry becomes a QTest row named by its first element, and the
// test reads its entry back whole.
#pragma once

#include <QTest>

#include <cstddef>
#include <tuple>

namespace wheeltest {

template<typename Row, std::size_t N> void addRows(const Row (&rows)[N])
{
    QTest::addColumn<int>("row");
    for (std::size_t i = 0; i < N; ++i)
        QTest::newRow(std::get<0>(rows[i])) << int(i);
}

template<typename Row, std::size_t N> const Row &rowOf(const Row (&rows)[N])
{
    QFETCH(int, row);
    return rows[row];
}

} // namespace wheeltest
