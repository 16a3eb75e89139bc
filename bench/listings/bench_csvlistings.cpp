// 100,000 listings of 20 fields read from CSV, against the JSON reader on the same listings; the heap the
// read listings hold against the file's size; and one long quoted cell against as many bytes of short
// rows, which shows whether a long cell costs more than linear time.

#include "benchharness.h"

#include "csvlistings.h"
#include "listing.h"

#include <QBuffer>

#include <malloc.h>

namespace {

constexpr int Listings = 100000;
constexpr int Fields = 20;

QByteArray value(int listing, int field) {
    // Mostly short cells, as spreadsheets have them, and one longer description per listing.
    if (field == Fields - 1)
        return QByteArray("Duties include, among others: \"filing\", reports and ").repeated(2) +
               QByteArray::number(listing);
    return "v" + QByteArray::number(listing) + "-" + QByteArray::number(field);
}

QByteArray csvFile() {
    QByteArray csv = "JobCode";
    for (int field = 1; field < Fields; ++field)
        csv += ",F" + QByteArray::number(field);
    csv += "\r\n";
    for (int listing = 0; listing < Listings; ++listing) {
        csv += "J" + QByteArray::number(listing);
        for (int field = 1; field < Fields; ++field) {
            const QByteArray text = value(listing, field);
            csv += text.contains('"') || text.contains(',')
                       ? "," + ("\"" + QByteArray(text).replace("\"", "\"\"") + "\"")
                       : "," + text;
        }
        csv += "\r\n";
    }
    return csv;
}

QByteArray jsonFile() {
    QByteArray json = "[";
    for (int listing = 0; listing < Listings; ++listing) {
        json += listing ? ",\n" : "\n";
        json += "{\"action\":\"Add\",\"fields\":[[\"JobCode\",\"J" + QByteArray::number(listing) + "\"]";
        for (int field = 1; field < Fields; ++field)
            json += ",[\"F" + QByteArray::number(field) + "\",\"" +
                    QByteArray(value(listing, field)).replace("\"", "\\\"") + "\"]";
        json += "]}";
    }
    return json + "]";
}

Orvex::CsvListings readCsv(const QByteArray &csv) {
    QBuffer device;
    device.setData(csv);
    device.open(QIODevice::ReadOnly);
    QString error;
    Orvex::CsvListings listings = Orvex::readCsvListings(&device, QStringLiteral("Add"), &error);
    if (!error.isEmpty())
        qFatal("%s", qPrintable(error));
    return listings;
}

double heapBytes() {
    return double(mallinfo2().uordblks);
}

} // namespace

int main() {
    Orvex::Bench::keepFreedMemory();
    const QByteArray csv = csvFile();
    const QByteArray json = jsonFile();
    std::printf("CSV file: %.1f MiB, %d listings of %d fields\n", double(csv.size()) / (1 << 20), Listings,
                Fields);

    const auto [csvSeconds, jsonSeconds] =
        Orvex::Bench::alternateMedians([&] { Orvex::Bench::keep(readCsv(csv)); },
                                       [&] {
                                           QString error;
                                           Orvex::Bench::keep(Orvex::parseListings(json, &error));
                                       },
                                       5);
    Orvex::Bench::printMedian("CSV read", csvSeconds);
    Orvex::Bench::printMedian("JSON read (baseline)", jsonSeconds);
    Orvex::Bench::printRatio("CSV read against JSON read", csvSeconds, jsonSeconds);

    const double before = heapBytes();
    {
        const Orvex::CsvListings listings = readCsv(csv);
        Orvex::Bench::printRatio("heap held by the read listings against the file's size",
                                 heapBytes() - before, double(csv.size()));
    }

    // The same bytes as one quoted cell, and as short rows, fed in the reader's own chunks.
    const qsizetype cellBytes = 32 << 20;
    const QByteArray longCell = "Text\n\"" + QByteArray(cellBytes, 'x') + "\"\n";
    const QByteArray shortRows = "Text\n" + QByteArray("xxxxxxxxxxxxxxx\n").repeated(cellBytes / 16);
    const auto [longSeconds, shortSeconds] = Orvex::Bench::alternateMedians(
        [&] { Orvex::Bench::keep(readCsv(longCell)); }, [&] { Orvex::Bench::keep(readCsv(shortRows)); }, 5);
    Orvex::Bench::printRatio("one 32 MiB quoted cell against 32 MiB of short rows", longSeconds,
                             shortSeconds);
    return 0;
}
