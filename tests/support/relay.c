/* A delaying TCP and UDP relay: a stand-in for a WAN link.
 *
 *   relay --listen 127.0.0.2 --target 127.0.0.1 --delay-ms 10 \
 *         --tcp 88,389,636,3268,3269,464,53,49152-49155 --udp 53,88,389 \
 *         [--no-handshake] [--keep-source] [--ready FILE]
 *
 * Every chunk read from one side is written to the other at its arrival time
 * plus the one-way delay, in each direction. Chunks keep their order and each
 * waits only for its own delay: every chunk of a direction gets the same
 * delay, so due times never decrease and a direction's queue is sent head
 * first as soon as the head is due, with no queueing of the relay's own.
 * Nothing limits throughput (reads are 256 KiB, the queue is unbounded).
 *
 * A real link also charges the TCP handshake a round trip before the
 * client's first byte can leave; the loopback handshake with the relay is
 * instant, so a new connection's first delivery to the server is held until
 * one round trip after the accept, plus the delay (--no-handshake: not).
 *
 * Datagrams (DNS, Kerberos, the LDAP ping on UDP 389) are delayed the same
 * way; each client address and port gets an upstream socket of its own, so
 * that answers find their way back.
 *
 * --keep-source binds every upstream socket to the client's own address
 * (port 0): the server sees the client's address rather than the relay's,
 * as it would across a real link. An Active Directory DC decides the
 * client's site from it. Every client address must then be local, which on
 * loopback it is.
 *
 * One thread, epoll, and a timerfd armed at the earliest due time: the
 * timer has nanosecond resolution, where poll timeouts round to a
 * millisecond a hop. On SIGTERM or SIGINT the counts of connections (and
 * datagrams) per port go to standard error, so that a run can show its
 * clients really came through the relay.
 */
#define _GNU_SOURCE
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#define CHUNK (256 * 1024)
#define MAX_PORTS 32
#define MAX_UDP_PEERS 256

static void die(const char *what) { perror(what); exit(2); }

static int64_t now_ns(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000 + ts.tv_nsec;
}

struct chunk {
    struct chunk *next;
    int64_t due;
    size_t len, off; /* len 0: the end of the stream */
    struct sockaddr_in peer; /* datagrams: where to send */
    int fd;                  /* datagrams: the socket to send from */
    unsigned char data[];
};

struct queue { struct chunk *head, *tail; };

static void push(struct queue *q, struct chunk *c)
{
    c->next = NULL;
    if (q->tail) q->tail->next = c; else q->head = c;
    q->tail = c;
}

static struct chunk *pop(struct queue *q)
{
    struct chunk *c = q->head;
    if (c) { q->head = c->next; if (!q->head) q->tail = NULL; }
    return c;
}

static void drop_all(struct queue *q) { struct chunk *c; while ((c = pop(q))) free(c); }

/* Every fd in epoll points at one of these. */
enum kind { LISTEN_TCP, LISTEN_UDP, UPSTREAM_UDP, STREAM, TIMER, SIGNALS };

struct pair;
struct endpoint {
    enum kind kind;
    int fd;
    int port;
    struct pair *pair; /* STREAM */
    int side;          /* STREAM: 0 client, 1 server */
    struct sockaddr_in peer; /* UPSTREAM_UDP: the client it relays for */
};

/* One relayed connection: q[0] goes client to server, q[1] back. */
struct pair {
    struct pair *prev, *next;
    struct endpoint ep[2];
    struct queue q[2];
    int64_t not_before[2];
    int read_done[2]; /* side i has ended its stream */
    int sent_eof[2];  /* the end of q[i] has been passed on */
    int want_out[2];  /* side i waits to be writable */
    int gone[2];      /* side i is out of epoll: read to its end, and hung up */
};

static struct {
    int64_t delay, handshake;
    int keep_source;
    struct in_addr listen, target;
    int epoll, timer;
    struct pair *pairs;
    struct queue datagrams; /* both ways, in due order */
    struct endpoint udp_peers[MAX_UDP_PEERS];
    int n_udp_peers;
} g;

static unsigned long tcp_seen[65536], udp_seen[65536];

static void watch(struct endpoint *ep, uint32_t events, int op)
{
    struct epoll_event ev = {.events = events, .data.ptr = ep};
    if (epoll_ctl(g.epoll, op, ep->fd, &ev) < 0) die("epoll_ctl");
}

static void nonblock(int fd) { fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK); }

static struct sockaddr_in addr_of(struct in_addr ip, int port)
{
    struct sockaddr_in a = {.sin_family = AF_INET, .sin_port = htons(port), .sin_addr = ip};
    return a;
}

static void close_pair(struct pair *p)
{
    for (int i = 0; i < 2; ++i) {
        close(p->ep[i].fd);
        drop_all(&p->q[i]);
    }
    if (p->prev) p->prev->next = p->next; else g.pairs = p->next;
    if (p->next) p->next->prev = p->prev;
    free(p);
}

static void rearm(struct pair *p, int side)
{
    if (p->gone[side]) return;
    watch(&p->ep[side], (p->read_done[side] ? 0 : EPOLLIN) | (p->want_out[side] ? EPOLLOUT : 0),
          EPOLL_CTL_MOD);
}

static void update_out(struct pair *p, int side, int want)
{
    if (p->want_out[side] == want) return;
    p->want_out[side] = want;
    rearm(p, side);
}

/* Sends what is due of q[dir] to the other side; 0 when the pair closed. */
static int flush_dir(struct pair *p, int dir, int64_t now)
{
    int to = 1 - dir;
    struct chunk *c;
    while ((c = p->q[dir].head) && c->due <= now) {
        if (c->len == 0) {
            shutdown(p->ep[to].fd, SHUT_WR);
            p->sent_eof[dir] = 1;
            free(pop(&p->q[dir]));
            if (p->sent_eof[0] && p->sent_eof[1]) { close_pair(p); return 0; }
            continue;
        }
        ssize_t n = send(p->ep[to].fd, c->data + c->off, c->len - c->off, MSG_NOSIGNAL);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK) && !p->gone[to]) {
            update_out(p, to, 1);
            return 1;
        }
        if (n < 0) { close_pair(p); return 0; }
        c->off += (size_t)n;
        if (c->off < c->len) { update_out(p, to, 1); return 1; }
        free(pop(&p->q[dir]));
    }
    update_out(p, to, 0);
    return 1;
}

static void flush_datagrams(int64_t now)
{
    struct chunk *c;
    while ((c = g.datagrams.head) && c->due <= now) {
        if (c->peer.sin_family)
            sendto(c->fd, c->data, c->len, 0, (struct sockaddr *)&c->peer, sizeof c->peer);
        else
            send(c->fd, c->data, c->len, 0);
        free(pop(&g.datagrams));
    }
}

static void arm_timer(void)
{
    int64_t next = INT64_MAX;
    for (struct pair *p = g.pairs; p; p = p->next)
        for (int i = 0; i < 2; ++i)
            if (p->q[i].head && !p->want_out[1 - i] && p->q[i].head->due < next)
                next = p->q[i].head->due;
    if (g.datagrams.head && g.datagrams.head->due < next) next = g.datagrams.head->due;
    struct itimerspec its = {0};
    if (next != INT64_MAX) {
        if (next < 1) next = 1;
        its.it_value.tv_sec = next / 1000000000;
        its.it_value.tv_nsec = next % 1000000000;
    }
    if (timerfd_settime(g.timer, TFD_TIMER_ABSTIME, &its, NULL) < 0) die("timerfd_settime");
}

static struct chunk *new_chunk(size_t cap)
{
    struct chunk *c = malloc(sizeof *c + cap);
    if (!c) die("malloc");
    memset(c, 0, sizeof *c);
    return c;
}

/* An upstream socket to the target's port, from the client's address when
 * the source is kept; -1 when it cannot be had. */
static int upstream(int type, int port, const struct sockaddr_in *client)
{
    int fd = socket(AF_INET, type, 0);
    if (fd < 0) return -1;
    struct sockaddr_in from = addr_of(client->sin_addr, 0), to = addr_of(g.target, port);
    if ((g.keep_source && bind(fd, (struct sockaddr *)&from, sizeof from) < 0) ||
        connect(fd, (struct sockaddr *)&to, sizeof to) < 0) {
        close(fd);
        return -1;
    }
    return fd;
}

static void accept_tcp(struct endpoint *ep)
{
    struct sockaddr_in from;
    socklen_t from_len = sizeof from;
    int client = accept4(ep->fd, (struct sockaddr *)&from, &from_len, SOCK_NONBLOCK);
    if (client < 0) return;
    ++tcp_seen[ep->port];
    int server = upstream(SOCK_STREAM, ep->port, &from);
    if (server < 0) {
        close(client);
        return;
    }
    nonblock(server);
    int one = 1;
    setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    setsockopt(server, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    struct pair *p = calloc(1, sizeof *p);
    if (!p) die("calloc");
    int fds[2] = {client, server};
    for (int i = 0; i < 2; ++i) {
        p->ep[i] = (struct endpoint){.kind = STREAM, .fd = fds[i], .port = ep->port, .pair = p, .side = i};
        watch(&p->ep[i], EPOLLIN, EPOLL_CTL_ADD);
    }
    p->not_before[0] = now_ns() + g.handshake + g.delay;
    p->next = g.pairs;
    if (g.pairs) g.pairs->prev = p;
    g.pairs = p;
}

static void read_stream(struct endpoint *ep)
{
    struct pair *p = ep->pair;
    int dir = ep->side;
    if (p->read_done[dir]) return;
    struct chunk *c = new_chunk(CHUNK);
    ssize_t n = recv(ep->fd, c->data, CHUNK, 0);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) { free(c); return; }
    int64_t due = now_ns() + g.delay;
    if (due < p->not_before[dir]) due = p->not_before[dir];
    c->due = due;
    if (n <= 0) {
        c->len = 0;
        p->read_done[dir] = 1;
        rearm(p, dir);
    } else {
        struct chunk *fit = realloc(c, sizeof *c + (size_t)n);
        c = fit ? fit : c;
        c->len = (size_t)n;
    }
    push(&p->q[dir], c);
}

/* The upstream socket of a client's address and port; NULL when none can
 * be had (the datagram is dropped, as a link would). */
static struct endpoint *udp_peer(int port, struct sockaddr_in *client)
{
    for (int i = 0; i < g.n_udp_peers; ++i)
        if (g.udp_peers[i].port == port && g.udp_peers[i].peer.sin_port == client->sin_port &&
            g.udp_peers[i].peer.sin_addr.s_addr == client->sin_addr.s_addr)
            return &g.udp_peers[i];
    /* A resolver uses a new port per query: recycle the oldest slot. */
    static int next_slot;
    struct endpoint *ep;
    if (g.n_udp_peers < MAX_UDP_PEERS) {
        ep = &g.udp_peers[g.n_udp_peers++];
    } else {
        ep = &g.udp_peers[next_slot];
        next_slot = (next_slot + 1) % MAX_UDP_PEERS;
        epoll_ctl(g.epoll, EPOLL_CTL_DEL, ep->fd, NULL);
        close(ep->fd);
    }
    int fd = upstream(SOCK_DGRAM, port, client);
    if (fd < 0) {
        /* The slot is free again: its old socket is closed. */
        *ep = (struct endpoint){.kind = UPSTREAM_UDP, .fd = -1, .port = -1};
        return NULL;
    }
    nonblock(fd);
    *ep = (struct endpoint){.kind = UPSTREAM_UDP, .fd = fd, .port = port, .peer = *client};
    watch(ep, EPOLLIN, EPOLL_CTL_ADD);
    return ep;
}

static struct endpoint udp_listeners[MAX_PORTS];

static void read_udp(struct endpoint *ep)
{
    for (;;) {
        struct chunk *c = new_chunk(65536);
        struct sockaddr_in from;
        socklen_t len = sizeof from;
        ssize_t n = recvfrom(ep->fd, c->data, 65536, 0, (struct sockaddr *)&from, &len);
        if (n < 0) { free(c); return; }
        c->len = (size_t)n;
        c->due = now_ns() + g.delay;
        if (ep->kind == LISTEN_UDP) {
            ++udp_seen[ep->port];
            struct endpoint *up = udp_peer(ep->port, &from);
            if (!up) { free(c); continue; }
            c->fd = up->fd;
        } else {
            /* A reply goes out of the listening socket of its port. */
            for (int i = 0; i < MAX_PORTS; ++i)
                if (udp_listeners[i].kind == LISTEN_UDP && udp_listeners[i].port == ep->port)
                    c->fd = udp_listeners[i].fd;
            c->peer = ep->peer;
        }
        push(&g.datagrams, c);
    }
}

/* "88,389,49152-49159": ports and ranges of ports. */
static int parse_ports(const char *text, int *out)
{
    int n = 0;
    char *copy = strdup(text), *save = NULL;
    for (char *tok = strtok_r(copy, ",", &save); tok; tok = strtok_r(NULL, ",", &save)) {
        if (!*tok) continue;
        char *dash = strchr(tok, '-');
        int first = atoi(tok), last = dash ? atoi(dash + 1) : first;
        for (int port = first; port <= last; ++port) {
            if (n == MAX_PORTS) { fprintf(stderr, "relay: more than %d ports\n", MAX_PORTS); exit(2); }
            out[n++] = port;
        }
    }
    free(copy);
    return n;
}

int main(int argc, char **argv)
{
    const char *listen_ip = "127.0.0.2", *target_ip = "127.0.0.1", *ready = NULL;
    const char *tcp_list = "88,389,636,3268,3269,464,53", *udp_list = "53";
    double delay_ms = 10;
    int handshake = 1;
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i], *v = i + 1 < argc ? argv[i + 1] : NULL;
        if (!strcmp(a, "--no-handshake")) { handshake = 0; continue; }
        if (!strcmp(a, "--keep-source")) { g.keep_source = 1; continue; }
        if (!v) { fprintf(stderr, "relay: %s needs a value\n", a); return 2; }
        if (!strcmp(a, "--listen")) listen_ip = v;
        else if (!strcmp(a, "--target")) target_ip = v;
        else if (!strcmp(a, "--delay-ms")) delay_ms = atof(v);
        else if (!strcmp(a, "--tcp")) tcp_list = v;
        else if (!strcmp(a, "--udp")) udp_list = v;
        else if (!strcmp(a, "--ready")) ready = v;
        else { fprintf(stderr, "relay: unknown option %s\n", a); return 2; }
        ++i;
    }
    g.delay = (int64_t)(delay_ms * 1e6);
    g.handshake = handshake ? 2 * g.delay : 0;
    if (!inet_aton(listen_ip, &g.listen) || !inet_aton(target_ip, &g.target)) {
        fprintf(stderr, "relay: bad address\n");
        return 2;
    }
    /* The default slack lets the timer fire up to 50 us late. */
    prctl(PR_SET_TIMERSLACK, 1UL);
    g.epoll = epoll_create1(0);
    g.timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK);
    if (g.epoll < 0 || g.timer < 0) die("epoll/timerfd");
    static struct endpoint timer_ep, signal_ep;
    timer_ep = (struct endpoint){.kind = TIMER, .fd = g.timer};
    watch(&timer_ep, EPOLLIN, EPOLL_CTL_ADD);

    sigset_t sigs;
    sigemptyset(&sigs);
    sigaddset(&sigs, SIGTERM);
    sigaddset(&sigs, SIGINT);
    sigprocmask(SIG_BLOCK, &sigs, NULL);
    signal_ep = (struct endpoint){.kind = SIGNALS, .fd = signalfd(-1, &sigs, 0)};
    watch(&signal_ep, EPOLLIN, EPOLL_CTL_ADD);

    int tcp[MAX_PORTS], udp[MAX_PORTS];
    int n_tcp = parse_ports(tcp_list, tcp), n_udp = parse_ports(udp_list, udp);
    static struct endpoint tcp_listeners[MAX_PORTS];
    for (int i = 0; i < n_tcp; ++i) {
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0), one = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        struct sockaddr_in a = addr_of(g.listen, tcp[i]);
        if (bind(fd, (struct sockaddr *)&a, sizeof a) < 0 || listen(fd, 128) < 0) die("tcp listen");
        tcp_listeners[i] = (struct endpoint){.kind = LISTEN_TCP, .fd = fd, .port = tcp[i]};
        watch(&tcp_listeners[i], EPOLLIN, EPOLL_CTL_ADD);
    }
    for (int i = 0; i < n_udp; ++i) {
        int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        struct sockaddr_in a = addr_of(g.listen, udp[i]);
        if (bind(fd, (struct sockaddr *)&a, sizeof a) < 0) die("udp bind");
        udp_listeners[i] = (struct endpoint){.kind = LISTEN_UDP, .fd = fd, .port = udp[i]};
        watch(&udp_listeners[i], EPOLLIN, EPOLL_CTL_ADD);
    }
    if (ready) {
        FILE *f = fopen(ready, "w");
        if (!f) die(ready);
        fputs("ready\n", f);
        fclose(f);
    }

    for (;;) {
        struct epoll_event evs[64];
        int n = epoll_wait(g.epoll, evs, 64, -1);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) die("epoll_wait");
        for (int i = 0; i < n; ++i) {
            struct endpoint *ep = evs[i].data.ptr;
            switch (ep->kind) {
            case LISTEN_TCP: accept_tcp(ep); break;
            case LISTEN_UDP:
            case UPSTREAM_UDP: read_udp(ep); break;
            case TIMER: { uint64_t ticks; if (read(g.timer, &ticks, sizeof ticks) < 0) {} break; }
            case SIGNALS: goto stop;
            case STREAM: {
                struct pair *p = ep->pair;
                if (evs[i].events & EPOLLOUT) update_out(p, ep->side, 0);
                if (evs[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) read_stream(ep);
                /* A hang-up stays reported: once the side has nothing more to
                 * read, leave it to the sends still queued for it. */
                if ((evs[i].events & (EPOLLHUP | EPOLLERR)) && p->read_done[ep->side] && !p->gone[ep->side]) {
                    epoll_ctl(g.epoll, EPOLL_CTL_DEL, ep->fd, NULL);
                    p->gone[ep->side] = 1;
                }
                break;
            }
            }
        }
        /* A pair may close while flushing: step with the next saved. */
        int64_t now = now_ns();
        for (struct pair *p = g.pairs, *next; p; p = next) {
            next = p->next;
            if (flush_dir(p, 0, now)) flush_dir(p, 1, now);
        }
        flush_datagrams(now);
        arm_timer();
    }
stop:
    fprintf(stderr, "relay:");
    for (int port = 0; port < 65536; ++port) {
        if (tcp_seen[port]) fprintf(stderr, " tcp/%d %lu", port, tcp_seen[port]);
        if (udp_seen[port]) fprintf(stderr, " udp/%d %lu", port, udp_seen[port]);
    }
    fprintf(stderr, "\n");
    return 0;
}
