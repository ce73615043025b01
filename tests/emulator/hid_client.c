/* A small hidapi client, independent of QuorSet, run against the standalone
 * emulator through tools/with-wheel: what the C++ suites, which hold the
 * emulator in their own process, never see. Its control socket
 * ($WHEEL_EMULATOR_CONTROL) drives input and the bus; the replies checked here
 * are those no suite of the program asks for (refused report ids, the page
 * after the last, what survives a re-plug). Exits 0 when every check passed. */
#define _GNU_SOURCE
#include <hidapi.h>

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#define VENDOR 0xC872
#define SENT 20
#define READ 21
#define INPUT_SIZE 17

static int failures, checks;

/* 1 when the check passed. */
#define CHECK(cond)                                                                                          \
    (++checks, (cond) ? 1 : (++failures, fprintf(stderr, "FAIL line %d: %s\n", __LINE__, #cond), 0))

static int control_fd = -1;

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
    return strncmp(reply, "ok", 2) == 0;
}

/* One Query: 20 bytes out, 21 back into the same buffer. Returns the GET
 * result. */
static int query(hid_device *dev, uint8_t record, uint8_t item, uint8_t reply[READ])
{
    const uint8_t request[READ] = {0x02, 0x0B, record, item};
    memcpy(reply, request, READ);
    if (hid_send_feature_report(dev, reply, SENT) != SENT)
        return -2;
    return hid_get_feature_report(dev, reply, READ);
}

static int write_command(hid_device *dev, const uint8_t *fields, size_t n)
{
    uint8_t buf[READ] = {0x02};
    memcpy(buf + 1, fields, n);
    return hid_send_feature_report(dev, buf, SENT);
}

static unsigned u16(const uint8_t *p)
{
    return (unsigned)p[0] | (unsigned)p[1] << 8;
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

static const struct model
{
    const char *code;
    unsigned pid;
    int led_pages;
} models[] = {{"ULMAR", 0x200C, 8}, {"SRD7", 0x200D, 4}};

static const uint8_t led_page[18] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18};

static void check_reports(hid_device *dev, const struct model *m)
{
    uint8_t r[READ];
    /* The model's last LED page answers, the one after it is unknown (FF). */
    CHECK(query(dev, (uint8_t)(m->led_pages - 1), 0, r) == READ && r[1] == m->led_pages - 1);
    CHECK(query(dev, (uint8_t)m->led_pages, 0, r) == READ && r[1] == 0xFF);
    /* A report id the wheel does not have is refused (EPIPE), and the buffer
     * keeps the request. */
    uint8_t unknown[READ] = {0x05, 0x0B, 0x0D};
    CHECK(hid_get_feature_report(dev, unknown, READ) == -1);
    CHECK(unknown[0] == 0x05 && unknown[1] == 0x0B && unknown[2] == 0x0D);
    /* LED pages go out as output report 3; other output ids are refused. */
    uint8_t out[SENT] = {0x03, 0x01}, other[SENT] = {0x07, 0x01};
    memcpy(out + 2, led_page, sizeof led_page);
    CHECK(hid_write(dev, out, sizeof out) == SENT);
    CHECK(hid_write(dev, other, sizeof other) == -1);
    CHECK(query(dev, 0x01, 0, r) == READ && memcmp(r + 2, led_page, sizeof led_page) == 0);
    const uint8_t commit[] = {0x0E};
    CHECK(write_command(dev, commit, sizeof commit) == SENT);
}

/* Input from the control socket: right paddle, left paddle, then the button
 * bitmap, one report per change (several buttons in one), nothing while idle. */
static void check_input(hid_device *dev)
{
    uint8_t in[INPUT_SIZE], last[INPUT_SIZE] = {0};
    CHECK(hid_set_nonblocking(dev, 1) == 0);
    CHECK(hid_read_timeout(dev, in, sizeof in, 100) == 0);
    CHECK(control("press 3 12") && control("paddle 1000 3000"));
    int got = 0;
    for (int i = 0; i < 20 && got < 2; ++i) {
        const int n = hid_read_timeout(dev, in, sizeof in, 100);
        CHECK(n == 0 || n == INPUT_SIZE);
        if (n == INPUT_SIZE)
            memcpy(last, in, sizeof in), ++got;
    }
    CHECK(got == 2);
    CHECK(u16(last + 1) == 3000 && u16(last + 3) == 1000 && last[5] == 0x04 && last[6] == 0x08);
    CHECK(control("release all"));
    CHECK(hid_read_timeout(dev, in, sizeof in, 500) == INPUT_SIZE && in[5] == 0 && in[6] == 0);
}

/* Pulled and plugged back: the open handle fails, the live paddle config is
 * gone, the saved item and the committed LED page stay. */
static void check_unplug(const struct model *m, hid_device *dev)
{
    uint8_t in[INPUT_SIZE], r[READ];
    const uint8_t paddles[] = {0x0A, 0x39, 0x30, 0x00, 0xA0, 0x0F, 0x3C, 0x0F, 120, 0, 130, 0};
    CHECK(write_command(dev, paddles, sizeof paddles) == SENT);
    CHECK(query(dev, 0x0A, 0, r) == READ && u16(r + 2) == 12345);
    const uint8_t saved_item[] = {0x0C, 0x0A, 77, 0, 0, 0, 0xEF};
    CHECK(write_command(dev, saved_item, sizeof saved_item) == SENT);
    CHECK(control("unplug"));
    CHECK(hid_read_timeout(dev, in, sizeof in, 1000) == -1);
    CHECK(count_wheels(m->pid) == 0);
    CHECK(query(dev, 0x0D, 0, r) < 0);
    hid_close(dev);

    CHECK(control("plug"));
    CHECK(count_wheels(m->pid) == 1);
    hid_device *again = hid_open(VENDOR, (unsigned short)m->pid, NULL);
    if (!CHECK(again != NULL))
        return;
    CHECK(query(again, 0x0A, 0, r) == READ && u16(r + 2) != 12345);
    CHECK(query(again, 0x01, 0, r) == READ && memcmp(r + 2, led_page, sizeof led_page) == 0);
    CHECK(query(again, 0x0C, 0x0A, r) == READ && r[3] == 77 && !r[4] && !r[5] && !r[6]);
    hid_close(again);
}

int main(int argc, char **argv)
{
    const struct model *m = NULL;
    for (size_t i = 0; i < sizeof models / sizeof models[0]; ++i)
        if (argc > 1 && strcmp(models[i].code, argv[1]) == 0)
            m = &models[i];
    const char *path = getenv("WHEEL_EMULATOR_CONTROL");
    struct sockaddr_un addr = {.sun_family = AF_UNIX};
    if (!m || !path || strlen(path) >= sizeof addr.sun_path || hid_init() != 0) {
        fprintf(stderr, "usage: hid_client ULMAR|SRD7, run by tools/with-wheel\n");
        return 2;
    }
    strcpy(addr.sun_path, path);
    control_fd = socket(AF_UNIX, SOCK_STREAM, 0);
    CHECK(connect(control_fd, (struct sockaddr *)&addr, sizeof addr) == 0);
    /* One hidraw device with interface 0, as the model's product id. */
    struct hid_device_info *d = hid_enumerate(VENDOR, 0);
    CHECK(d && d->product_id == m->pid && !d->next && d->interface_number == 0 &&
          strncmp(d->path, "/dev/hidraw", 11) == 0);
    hid_free_enumeration(d);
    hid_device *dev = hid_open(VENDOR, (unsigned short)m->pid, NULL);
    if (CHECK(dev != NULL)) {
        check_reports(dev, m);
        check_input(dev);
        check_unplug(m, dev);
    }
    hid_exit();
    printf("%d checks, %d failed\n", checks, failures);
    return failures == 0 ? 0 : 1;
}
