#include "udev_rules.h"

#include <QRegularExpression>

#include <fnmatch.h>

namespace {

// How a key may be used: compared, assigned, or both; and whether a
// comparison looks at the event's device or at any one of its ancestors.
struct KeyRule
{
    const char *key;
    bool match;
    bool assign;
    bool ancestor;
    bool takesAttr;
};

constexpr KeyRule kKeys[] = {
    {"ACTION", true, false, false, false}, {"SUBSYSTEM", true, false, false, false},
    {"KERNEL", true, false, false, false}, {"DRIVER", true, false, false, false},
    {"ATTR", true, true, false, true},     {"ENV", true, true, false, true},
    {"TAG", true, true, false, false},     {"SUBSYSTEMS", true, false, true, false},
    {"KERNELS", true, false, true, false}, {"DRIVERS", true, false, true, false},
    {"ATTRS", true, false, true, true},    {"MODE", false, true, false, false},
    {"OWNER", false, true, false, false},  {"GROUP", false, true, false, false},
    {"GOTO", false, true, false, false},   {"LABEL", false, true, false, false},
};

const KeyRule *keyRule(const QString &key)
{
    for (const KeyRule &rule : kKeys) {
        if (key == QLatin1String(rule.key))
            return &rule;
    }
    return nullptr;
}

bool isMatchOp(const QString &op)
{
    return op == QLatin1String("==") || op == QLatin1String("!=");
}

// udev compares with shell globs, several of them joined by '|'.
bool globMatches(const QString &pattern, const QString &value)
{
    const QByteArray subject = value.toUtf8();
    for (const QString &alternative : pattern.split(QLatin1Char('|'))) {
        if (fnmatch(alternative.toUtf8().constData(), subject.constData(), 0) == 0)
            return true;
    }
    return false;
}

QString tokenText(const UdevToken &token)
{
    QString text = token.key;
    if (!token.attr.isEmpty())
        text += QLatin1Char('{') + token.attr + QLatin1Char('}');
    return text + token.op + token.value;
}

// Joins continued lines and drops comments, keeping each rule's first line number.
QVector<QPair<int, QString>> logicalLines(const QString &text)
{
    QVector<QPair<int, QString>> lines;
    QString pending;
    int start = 0;
    const QStringList physical = text.split(QLatin1Char('\n'));
    for (int i = 0; i < physical.size(); ++i) {
        QString line = physical.at(i);
        if (pending.isEmpty()) {
            start = i + 1;
            if (line.trimmed().startsWith(QLatin1Char('#')))
                continue;
        }
        if (line.endsWith(QLatin1Char('\\'))) {
            line.chop(1);
            pending += line;
            continue;
        }
        pending += line;
        if (!pending.trimmed().isEmpty())
            lines.append({start, pending});
        pending.clear();
    }
    if (!pending.trimmed().isEmpty())
        lines.append({start, pending});
    return lines;
}

// Whether one comparison holds on one device.
bool tokenHolds(const UdevToken &token, const UdevDevice &device, const QString &action,
                const QStringList &tags)
{
    const bool equal = token.op == QLatin1String("==");
    QString subject;
    if (token.key == QLatin1String("ACTION")) {
        subject = action;
    } else if (token.key == QLatin1String("SUBSYSTEM") || token.key == QLatin1String("SUBSYSTEMS")) {
        subject = device.subsystem;
    } else if (token.key == QLatin1String("KERNEL") || token.key == QLatin1String("KERNELS")) {
        subject = device.kernel;
    } else if (token.key == QLatin1String("DRIVER") || token.key == QLatin1String("DRIVERS")) {
        subject = device.driver;
    } else if (token.key == QLatin1String("ATTR") || token.key == QLatin1String("ATTRS")) {
        // A device without the attribute matches neither == nor !=.
        if (!device.attributes.contains(token.attr))
            return false;
        subject = device.attributes.value(token.attr);
    } else if (token.key == QLatin1String("ENV")) {
        subject = device.properties.value(token.attr);
    } else if (token.key == QLatin1String("TAG")) {
        bool any = false;
        for (const QString &tag : tags)
            any = any || globMatches(token.value, tag);
        return any == equal;
    }
    return globMatches(token.value, subject) == equal;
}

} // namespace

UdevRules parseUdevRules(const QString &text)
{
    static const QRegularExpression tokenPattern(QStringLiteral(
        R"(\G[\s,]*([A-Z_]+)(?:\{([^}]*)\})?\s*(==|!=|\+=|-=|:=|=)\s*"((?:[^"\\]|\\.)*)\"[ \t]*(,|$|\s))"));
    UdevRules result;
    for (const auto &[lineNumber, line] : logicalLines(text)) {
        UdevRule rule;
        rule.line = lineNumber;
        int at = 0;
        const QString body = line.trimmed();
        while (at < body.size()) {
            const QRegularExpressionMatch m = tokenPattern.match(body, at);
            if (!m.hasMatch()) {
                result.error =
                    QStringLiteral("line %1: cannot read \"%2\"").arg(lineNumber).arg(body.mid(at));
                return result;
            }
            UdevToken token{m.captured(1), m.captured(2), m.captured(3), m.captured(4)};
            const KeyRule *known = keyRule(token.key);
            if (!known) {
                result.error = QStringLiteral("line %1: unknown key %2").arg(lineNumber).arg(token.key);
                return result;
            }
            const bool match = isMatchOp(token.op);
            if ((match && !known->match) || (!match && !known->assign)) {
                result.error = QStringLiteral("line %1: %2 cannot be used with %3")
                                   .arg(lineNumber)
                                   .arg(token.key, token.op);
                return result;
            }
            const bool plainOnly = token.key == QLatin1String("GOTO") || token.key == QLatin1String("LABEL");
            if (plainOnly && token.op != QLatin1String("=")) {
                result.error = QStringLiteral("line %1: %2 takes only =").arg(lineNumber).arg(token.key);
                return result;
            }
            if (known->takesAttr == token.attr.isEmpty()) {
                result.error = QStringLiteral("line %1: %2 %3 an attribute name")
                                   .arg(lineNumber)
                                   .arg(token.key, known->takesAttr ? QStringLiteral("needs")
                                                                    : QStringLiteral("takes no"));
                return result;
            }
            rule.tokens.append(token);
            at = m.capturedEnd(0);
        }
        result.rules.append(rule);
    }
    return result;
}

UdevOutcome runUdevRules(const UdevRules &rules, const QString &action, const QVector<UdevDevice> &chain)
{
    UdevOutcome outcome;
    if (!rules.error.isEmpty() || chain.isEmpty()) {
        outcome.error = rules.error.isEmpty() ? QStringLiteral("no device") : rules.error;
        return outcome;
    }
    UdevDevice self = chain.first();
    QString skipTo; // a GOTO's label while skipping forward to it
    for (const UdevRule &rule : rules.rules) {
        const UdevToken *label = nullptr;
        for (const UdevToken &token : rule.tokens) {
            if (token.key == QLatin1String("LABEL"))
                label = &token;
        }
        if (!skipTo.isEmpty()) {
            if (label && label->value == skipTo)
                skipTo.clear();
            else
                continue;
        }

        bool holds = true;
        QVector<const UdevToken *> ancestorTokens;
        for (const UdevToken &token : rule.tokens) {
            if (!isMatchOp(token.op))
                continue;
            if (keyRule(token.key)->ancestor)
                ancestorTokens.append(&token);
            else
                holds = holds && tokenHolds(token, self, action, outcome.tags);
        }
        // All ancestor comparisons of a rule must hold on one and the same device.
        if (holds && !ancestorTokens.isEmpty()) {
            bool found = false;
            for (const UdevDevice &device : chain) {
                bool all = true;
                for (const UdevToken *token : ancestorTokens)
                    all = all && tokenHolds(*token, device, action, outcome.tags);
                found = found || all;
            }
            holds = found;
        }
        if (!holds)
            continue;

        for (const UdevToken &token : rule.tokens) {
            if (isMatchOp(token.op) || token.key == QLatin1String("LABEL"))
                continue;
            if (token.key == QLatin1String("GOTO")) {
                skipTo = token.value;
            } else if (token.key == QLatin1String("TAG")) {
                if (token.op == QLatin1String("=") || token.op == QLatin1String(":="))
                    outcome.tags.clear();
                if (token.op == QLatin1String("-="))
                    outcome.tags.removeAll(token.value);
                else if (!outcome.tags.contains(token.value))
                    outcome.tags.append(token.value);
            } else {
                if (token.key == QLatin1String("ENV"))
                    self.properties.insert(token.attr, token.value);
                outcome.assignments.append(tokenText(token));
            }
        }
    }
    if (!skipTo.isEmpty())
        outcome.error = QStringLiteral("GOTO \"%1\" has no LABEL after it").arg(skipTo);
    return outcome;
}
