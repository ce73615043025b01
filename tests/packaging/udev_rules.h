#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

// A small reading of udev's rules language, enough to run a rules file
// against a made-up device and see what it would be given. It knows the keys
// this project's rules use and refuses anything else, so a rule it cannot
// judge is reported rather than silently ignored.

// One device of a sysfs chain: the event's own device first, then its parents.
struct UdevDevice
{
    QString subsystem;
    QString kernel;
    QString driver;
    QMap<QString, QString> attributes; // sysfs files: idVendor, bInterfaceNumber, ...
    QMap<QString, QString> properties; // the uevent environment: DEVTYPE, MAJOR, ...
};

struct UdevToken
{
    QString key;  // ATTRS, TAG, ...
    QString attr; // the part in braces, if any
    QString op;   // ==, !=, =, +=, -=, :=
    QString value;
};

struct UdevRule
{
    int line = 0; // where the rule starts in the file, from 1
    QVector<UdevToken> tokens;
};

struct UdevRules
{
    QVector<UdevRule> rules;
    QString error; // empty when the whole file was understood
};

// Splits a rules file into rules and checks every key and operator.
UdevRules parseUdevRules(const QString &text);

// What the rules did to one event.
struct UdevOutcome
{
    QStringList tags;
    QStringList assignments; // every other assignment made, as "KEY{attr}OPvalue"
    QString error;
};

// Runs `rules` for `action` ("add", "change", ...) on chain[0].
UdevOutcome runUdevRules(const UdevRules &rules, const QString &action, const QVector<UdevDevice> &chain);
