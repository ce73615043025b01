/* A small hidapi client, independent of QuorSet, run against the standalone
 * emulator through tools/with-wheel. It reads the wire formats on its own, so
 * a mistake the emulator shares with the program shows up here. Bus events
 * are asked of the emulator through $WHEEL_EMULATOR_CONTROL. Exits 0 when
 * every check passed. */
#define _GNU_SOURCE
#include <hidapi.h>

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#define VENDOR 0xC872
#define FEATURE_SENT 20
#define FEATURE_READ 21
#define INPUT_SIZE 17

static int failures;
static int checks;

#define CHECK(cond, ...) check((cond), __LINE__, #cond, __VA_ARGS__)

static void check(int ok, int line, const char *expr, const char *fmt, ...)
{
    ++checks;
    if (ok)
        return;
    ++failures;
    fprintf(stderr, "FAIL line %d: %s: ", line, expr);
    va_list args;
    va_start(args, fmt);
    vfprintf(stderr, fmt, args);
    va_end(args);
    fputc('\n', stderr);
}

static int control_fd = -1;

static int control_open(void)
{
    const char *path = getenv("WHEEL_EMULATOR_CONTROL");
    struct sockaddr_un addr = {.sun_family = AF_UNIX};
    if (!path || strlen(path) >= sizeof addr.sun_path)
        return -1;
    strcpy(addr.sun_path, path);
    control_fd = socket(AF_UNIX, SOCK_STREAM, 0);
    return control_fd < 0 || connect(control_fd, (struct sockaddr *)&addr, sizeof addr) != 0 ? -1 : 0;
}

/* Sends one command line; 1 when the emulator answered "ok". */
static int control(const char *command)
{
    char reply[512];
    size_t got = 0;
    if (dprintf(control_fd, "%s\n", command) < 0)
        return 0;
    while (got < sizeof reply - 1 && read(control_fd, reply + got, 1) == 1 && reply[got] != '\n')
        ++got;
    reply[got] = '\0';
    if (strncmp(reply, "ok", 2) != 0)
        fprintf(stderr, "emulator: %s -> %s\n", command, reply);
    return strncmp(reply, "ok", 2) == 0;
}

/* One Query: 20 bytes out, 21 back into the same buffer. Returns the GET
 * result. */
static int query(hid_device *dev, uint8_t record, uint8_t item, uint8_t reply[FEATURE_READ])
{
    memset(reply, 0, FEATURE_READ);
    reply[0] = 0x02;
    reply[1] = 0x0B;
    reply[2] = record;
    reply[3] = item;
    if (hid_send_feature_report(dev, reply, FEATURE_SENT) != FEATURE_SENT)
        return -2;
    return hid_get_feature_report(dev, reply, FEATURE_READ);
}

static int write_command(hid_device *dev, const uint8_t *fields, size_t n)
{
    uint8_t buf[FEATURE_READ] = {0};
    buf[0] = 0x02;
    memcpy(buf + 1, fields, n);
    return hid_send_feature_report(dev, buf, FEATURE_SENT);
}

static unsigned u16(const uint8_t *p)
{
    return (unsigned)p[0] | (unsigned)p[1] << 8;
}
static uint32_t u32(const uint8_t *p)
{
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static void set_item(hid_device *dev, uint8_t item, uint32_t value, uint8_t marker)
{
    const uint8_t f[] = {0x0C,        item,  value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF,
                         value >> 24, marker};
    CHECK(write_command(dev, f, sizeof f) == FEATURE_SENT, "SetItem 0x%02x not accepted", item);
}

/* A build date as "Mar  7 2024,15:04". */
static int is_build_date(const char *s)
{
    char month[4];
    unsigned day, year, hour, minute;
    return strlen(s) == 17 && sscanf(s, "%3s %2u %4u,%2u:%2u", month, &day, &year, &hour, &minute) == 5 &&
           strstr("JanFebMarAprMayJunJulAugSepOctNovDec", month) != NULL;
}

static int count_wheels(unsigned pid)
{
    int n = 0;
    struct hid_device_info *devs = hid_enumerate(VENDOR, (unsigned short)pid);
    for (struct hid_device_info *d = devs; d; d = d->next)
        ++n;
    hid_free_enumeration(devs);
    return n;
}

struct model
{
    const char *code;
    unsigned pid;
    int led_pages;
};

static const struct model models[] = {
    {"H-ZET", 0x2007, 4},  {"VLN6", 0x2008, 4},  {"H-MIRA", 0x2009, 4}, {"OV410", 0x200A, 4},
    {"KLINO4", 0x200B, 4}, {"ULMAR", 0x200C, 8}, {"SRD7", 0x200D, 4},   {"PELIX", 0x2010, 4},
};

static void check_enumeration(const struct model *m)
{
    struct hid_device_info *d = hid_enumerate(VENDOR, (unsigned short)m->pid);
    CHECK(d && d->product_id == m->pid && !d->next && d->interface_number == 0 && d->path &&
              strncmp(d->path, "/dev/hidraw", 11) == 0,
          "c872:%04x is not one hidraw device with interface 0", m->pid);
    hid_free_enumeration(d);
    /* The other product ids of the family are not there. */
    for (size_t i = 0; i < sizeof models / sizeof models[0]; ++i)
        CHECK(models[i].pid == m->pid || count_wheels(models[i].pid) == 0, "unexpected c872:%04x",
              models[i].pid);
}

static void check_records(hid_device *dev, const struct model *m)
{
    uint8_t r[FEATURE_READ];

    /* Model name: 0x0D echoed in byte 1, the name from byte 2, containing
     * the model code. */
    CHECK(query(dev, 0x0D, 0, r) == FEATURE_READ && r[0] == 0x02 && r[1] == 0x0D, "name reply");
    char name[20] = {0};
    memcpy(name, r + 2, 19);
    CHECK(strstr(name, m->code) != NULL, "name \"%s\" lacks %s", name, m->code);

    /* Version: text from byte 1: release, a tab, a build date. */
    char version[21] = {0};
    CHECK(query(dev, 0x09, 0, r) == FEATURE_READ, "version query");
    memcpy(version, r + 1, 20);
    const char *tab = strchr(version, '\t');
    CHECK(tab && tab != version && is_build_date(tab + 1), "version \"%s\" is no release, tab, build date",
          version);

    /* Paddle configuration: a live write comes back field by field. */
    const uint8_t paddles[] = {0x0A, 0x39, 0x30, 0x00, 0xA0, 0x0F, 0x3C, 0x0F, 120, 0, 130, 0};
    CHECK(write_command(dev, paddles, sizeof paddles) == FEATURE_SENT, "WritePaddleConfig");
    CHECK(query(dev, 0x0A, 0, r) == FEATURE_READ && u16(r + 2) == 12345 && u16(r + 5) == 4000 &&
              u16(r + 7) == 3900 && u16(r + 9) == 120 && u16(r + 11) == 130,
          "paddle config does not read back");

    /* Items: what SetItem writes, ItemRecord reads back. */
    static const uint8_t items[] = {0x04, 0x0A, 0x08, 0x09};
    static const uint32_t values[] = {150, 60, 1, 0xFF};
    for (size_t i = 0; i < sizeof items; ++i) {
        set_item(dev, items[i], values[i], 0x00);
        CHECK(query(dev, 0x0C, items[i], r) == FEATURE_READ && u32(r + 3) == values[i],
              "item 0x%02x does not read back %u", items[i], values[i]);
    }

    /* Extra LEDs: the colours written come back in bytes 3..8. */
    const uint8_t colours[] = {0x11, 0x00, 10, 20, 30, 40, 50, 60};
    CHECK(write_command(dev, colours, sizeof colours) == FEATURE_SENT, "SetExtraLedColours");
    CHECK(query(dev, 0x11, 0, r) == FEATURE_READ && memcmp(r + 3, colours + 2, 6) == 0,
          "extra LED colours do not read back");

    /* The model's last LED page answers, the one after it is unknown (FF). */
    CHECK(query(dev, (uint8_t)(m->led_pages - 1), 0, r) == FEATURE_READ && r[1] == m->led_pages - 1,
          "last LED page");
    CHECK(query(dev, (uint8_t)m->led_pages, 0, r) == FEATURE_READ && r[1] == 0xFF, "LED page %d answered",
          m->led_pages);

    /* A report id the wheel does not have is refused (EPIPE), and the
     * buffer keeps the request. */
    uint8_t unknown[FEATURE_READ] = {0x05, 0x0B, 0x0D};
    CHECK(hid_get_feature_report(dev, unknown, FEATURE_READ) == -1, "GET of report 5 succeeded");
    CHECK(unknown[0] == 0x05 && unknown[1] == 0x0B && unknown[2] == 0x0D, "failed GET changed the buffer");
}

static const uint8_t led_page_bytes[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};

static void check_led_page(hid_device *dev)
{
    uint8_t out[FEATURE_SENT] = {0x03, 0x01};
    memcpy(out + 2, led_page_bytes, sizeof led_page_bytes);
    CHECK(hid_write(dev, out, sizeof out) == FEATURE_SENT, "LED page write");
    uint8_t r[FEATURE_READ];
    CHECK(query(dev, 0x01, 0, r) == FEATURE_READ, "LED page 1 query");
    CHECK(memcmp(r + 2, led_page_bytes, sizeof led_page_bytes) == 0, "LED page 1 does not read back");
    /* Output report ids other than 3 are refused. */
    uint8_t other[FEATURE_SENT] = {0x07, 0x01};
    CHECK(hid_write(dev, other, sizeof other) == -1, "output report 7 accepted");
    const uint8_t commit[] = {0x0E};
    CHECK(write_command(dev, commit, sizeof commit) == FEATURE_SENT, "CommitLedColours");
}

static void check_input(hid_device *dev)
{
    uint8_t in[INPUT_SIZE];
    CHECK(hid_set_nonblocking(dev, 1) == 0, "non-blocking");
    /* Idle: the time-out runs out with nothing read. */
    const int idle = hid_read_timeout(dev, in, sizeof in, 100);
    CHECK(idle == 0, "idle read returned %d", idle);

    CHECK(control("press 3"), "press");
    CHECK(control("paddle 1000 3000"), "paddle");
    int got = 0;
    uint8_t last[INPUT_SIZE] = {0};
    for (int i = 0; i < 20 && got < 2; ++i) {
        const int n = hid_read_timeout(dev, in, sizeof in, 100);
        CHECK(n == 0 || n == INPUT_SIZE, "input read returned %d", n);
        if (n == INPUT_SIZE) {
            memcpy(last, in, sizeof in);
            ++got;
        }
    }
    CHECK(got == 2, "%d input reports for two changes", got);
    /* Payload: right paddle, left paddle, then the button bitmap. */
    const uint8_t *payload = last + 1;
    CHECK(u16(payload + 0) == 3000 && u16(payload + 2) == 1000, "paddles right %u left %u", u16(payload),
          u16(payload + 2));
    CHECK(payload[4] == 0x04, "button byte 0 is %02x, button 3 alone is 04", payload[4]);
    CHECK(control("release all"), "release");
    CHECK(hid_read_timeout(dev, in, sizeof in, 500) == INPUT_SIZE && in[5] == 0, "release not reported");
}

static void check_unplug(const struct model *m, hid_device *dev)
{
    uint8_t in[INPUT_SIZE];
    set_item(dev, 0x0A, 77, 0xEF); /* saved to flash */
    CHECK(control("unplug"), "unplug");
    CHECK(hid_read_timeout(dev, in, sizeof in, 1000) == -1, "read after unplug did not fail");
    CHECK(count_wheels(m->pid) == 0, "unplugged wheel still enumerated");
    uint8_t r[FEATURE_READ];
    CHECK(query(dev, 0x0D, 0, r) < 0, "query on an unplugged wheel succeeded");
    hid_close(dev);

    CHECK(control("plug"), "plug");
    CHECK(count_wheels(m->pid) == 1, "wheel not back after plug");
    hid_device *again = hid_open(VENDOR, (unsigned short)m->pid, NULL);
    CHECK(again != NULL, "cannot open the re-plugged wheel");
    if (!again)
        return;
    CHECK(query(again, 0x0D, 0, r) == FEATURE_READ && r[1] == 0x0D, "name after re-plug");
    /* The live paddle config is gone; the saved item and the committed LED
     * page stay. */
    CHECK(query(again, 0x0A, 0, r) == FEATURE_READ && u16(r + 2) != 12345,
          "live bite point survived re-plug");
    CHECK(query(again, 0x01, 0, r) == FEATURE_READ && memcmp(r + 2, led_page_bytes, 18) == 0,
          "committed LED page lost in re-plug");
    CHECK(query(again, 0x0C, 0x0A, r) == FEATURE_READ && u32(r + 3) == 77, "saved item lost in re-plug");
    hid_close(again);
}

/* The transcript names every exchange: our name query and LED page write
 * must be there byte for byte. */
static void check_transcript(void)
{
    const char *path = getenv("WHEEL_EMULATOR_TRANSCRIPT");
    if (!path || !*path)
        return;
    FILE *f = fopen(path, "r");
    CHECK(f != NULL, "cannot read %s", path);
    if (!f)
        return;
    const char *name_query = " set-feature 02 0b 0d 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00\n";
    const char *led_write = " output 03 01 01 02 03 04 05 06 07 08 09 0a 0b 0c 0d 0e 0f 10 11 12\n";
    int saw_query = 0, saw_write = 0;
    char line[512];
    while (fgets(line, sizeof line, f)) {
        const char *rest = strchr(line, ' ');
        if (rest && strcmp(rest, name_query) == 0)
            saw_query = 1;
        if (rest && strcmp(rest, led_write) == 0)
            saw_write = 1;
    }
    fclose(f);
    CHECK(saw_query, "name query missing from the transcript");
    CHECK(saw_write, "LED page write missing from the transcript");
}

int main(int argc, char **argv)
{
    const char *code = argc > 1 ? argv[1] : "SRD7";
    const struct model *m = NULL;
    for (size_t i = 0; i < sizeof models / sizeof models[0]; ++i)
        if (strcmp(models[i].code, code) == 0)
            m = &models[i];
    if (!m || control_open() != 0) {
        fprintf(stderr, "usage: hid_client MODEL, run by tools/with-wheel\n");
        return 2;
    }
    if (hid_init() != 0)
        return 2;
    check_enumeration(m);
    hid_device *dev = hid_open(VENDOR, (unsigned short)m->pid, NULL);
    CHECK(dev != NULL, "cannot open c872:%04x", m->pid);
    if (dev) {
        check_records(dev, m);
        check_led_page(dev);
        check_input(dev);
        check_unplug(m, dev);
    }
    check_transcript();
    hid_exit();
    printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
