/* Not a test: scripts/bench.sh preloads this into a process (LD_PRELOAD) to see the work that it
 * does through the client library, the one way a program reaches the server.
 *
 * QUORVO_WIRE_TRACE=FILE writes every call that the server sees, or that shapes what it sees
 * (connect options, TLS settings, statements, prepared statements with their bound values),
 * one per line with its answer (return code, error number, affected rows, a digest of the
 * rows), so that two processes that did the same work leave the same file. quorvo-bench-replay
 * reads such a file and does the same calls.
 *
 * QUORVO_WIRE_TIMES=FILE adds one line at the process's end: the monotonic clock in ns at the
 * first connect, after the last answer, and the number of commands that waited for an answer.
 *
 * Calls that the library makes to itself are not counted; strings go as hex, "-" for none and
 * "." for the empty one. */
#define _GNU_SOURCE
#include <mysql.h>

#include <dlfcn.h>
#include <pthread.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static __thread int depth; /* > 1: the library calling itself */
static FILE *trace;
static int traceOpened;
static long long firstNs = -1, lastNs = -1, commands;

static long long nowNs(void)
{
    struct timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

/* The library's own function of that name, also where it was loaded into a scope of its own
 * (a plugin opened without RTLD_GLOBAL). */
static void *real(const char *name)
{
    void *f = dlsym(RTLD_NEXT, name);
    if (!f) {
        void *library = dlopen("libmariadb.so.3", RTLD_LAZY | RTLD_NOLOAD);
        if (library)
            f = dlsym(library, name);
    }
    if (!f) {
        fprintf(stderr, "wiretrace: no %s in the client library\n", name);
        abort();
    }
    return f;
}
#define REAL(name)                                                                                 \
    ({                                                                                             \
        static __typeof__(&name) f;                                                                \
        if (!f)                                                                                    \
            f = (__typeof__(&name))real(#name);                                                    \
        f;                                                                                         \
    })

static FILE *out(void)
{
    if (!traceOpened) {
        const char *path = getenv("QUORVO_WIRE_TRACE");
        traceOpened = 1;
        trace = path && *path ? fopen(path, "w") : NULL;
    }
    return trace;
}

static void hex(FILE *f, const void *data, size_t length)
{
    const unsigned char *bytes = data;
    fputc(' ', f);
    if (!data) {
        fputc('-', f);
        return;
    }
    if (length == 0)
        fputc('.', f); /* the empty string */
    for (size_t i = 0; i < length; ++i)
        fprintf(f, "%02x", bytes[i]);
}
static void str(FILE *f, const char *s)
{
    hex(f, s, s ? strlen(s) : 0);
}

/* Objects by the order they appear, so that two runs name them alike (1 to 255). */
enum { Conn, Stmt, Res, Kinds };
static const void *objects[Kinds][256];
static int objectCount[Kinds];
static int id(int kind, const void *object)
{
    if (!object)
        return 0;
    for (int i = objectCount[kind]; i > 0; --i)
        if (objects[kind][i - 1] == object)
            return i;
    /* The lowest number that no object holds any more: both runs free theirs alike. */
    int i = 0;
    while (i < objectCount[kind] && objects[kind][i])
        ++i;
    if (i == 255)
        abort();
    if (i == objectCount[kind])
        ++objectCount[kind];
    objects[kind][i] = object;
    return i + 1;
}
static void forget(int kind, const void *object)
{
    for (int i = 0; i < objectCount[kind]; ++i)
        if (objects[kind][i] == object)
            objects[kind][i] = NULL;
}

static int enter(void)
{
    if (++depth > 1)
        return 0;
    pthread_mutex_lock(&lock);
    return 1;
}
static void leave(int outer, int answered)
{
    if (outer) {
        if (answered) {
            lastNs = nowNs();
            commands += answered > 0;
        }
        FILE *f = out();
        if (f) {
            fputc('\n', f);
            fflush(f);
        }
        pthread_mutex_unlock(&lock);
    }
    --depth;
}
#define LINE(...)                                                                                  \
    do {                                                                                           \
        if (outer && out())                                                                        \
            fprintf(out(), __VA_ARGS__);                                                           \
    } while (0)

/* The rows in any order: a statement without ORDER BY may get them in another. */
static uint64_t digestRows(MYSQL_RES *res)
{
    uint64_t sum = 0;
    const unsigned int fields = REAL(mysql_num_fields)(res);
    MYSQL_ROW row;
    while ((row = REAL(mysql_fetch_row)(res))) {
        unsigned long *lengths = REAL(mysql_fetch_lengths)(res);
        uint64_t h = 1469598103934665603ULL;
        for (unsigned int i = 0; i < fields; ++i) {
            const unsigned char *p = (const unsigned char *)row[i];
            const unsigned long n = p ? lengths[i] : 0;
            h = (h ^ (p ? n + 1 : 0)) * 1099511628211ULL;
            for (unsigned long j = 0; j < n; ++j)
                h = (h ^ p[j]) * 1099511628211ULL;
        }
        sum += h;
    }
    REAL(mysql_data_seek)(res, 0);
    return sum;
}

/* The argument of an option as the library reads it; 0 for an option of unknown kind, which a
 * replay cannot repeat. */
static int optionKind(enum mysql_option option)
{
    switch (option) {
    case MYSQL_OPT_CONNECT_TIMEOUT:
    case MYSQL_OPT_LOCAL_INFILE:
    case MYSQL_OPT_PROTOCOL:
    case MYSQL_OPT_READ_TIMEOUT:
    case MYSQL_OPT_WRITE_TIMEOUT:
        return 'i';
    case MYSQL_OPT_MAX_ALLOWED_PACKET:
    case MYSQL_OPT_NET_BUFFER_LENGTH:
        return 'l';
    case MYSQL_SECURE_AUTH:
    case MYSQL_REPORT_DATA_TRUNCATION:
    case MYSQL_OPT_RECONNECT:
    case MYSQL_OPT_SSL_VERIFY_SERVER_CERT:
    case MYSQL_ENABLE_CLEARTEXT_PLUGIN:
    case MYSQL_OPT_CAN_HANDLE_EXPIRED_PASSWORDS:
    case MYSQL_OPT_SSL_ENFORCE:
        return 'b';
    case MYSQL_INIT_COMMAND:
    case MYSQL_READ_DEFAULT_FILE:
    case MYSQL_READ_DEFAULT_GROUP:
    case MYSQL_SET_CHARSET_DIR:
    case MYSQL_SET_CHARSET_NAME:
    case MYSQL_SHARED_MEMORY_BASE_NAME:
    case MYSQL_SET_CLIENT_IP:
    case MYSQL_PLUGIN_DIR:
    case MYSQL_DEFAULT_AUTH:
    case MYSQL_OPT_BIND:
    case MYSQL_OPT_SSL_KEY:
    case MYSQL_OPT_SSL_CERT:
    case MYSQL_OPT_SSL_CA:
    case MYSQL_OPT_SSL_CAPATH:
    case MYSQL_OPT_SSL_CIPHER:
    case MYSQL_OPT_SSL_CRL:
    case MYSQL_OPT_SSL_CRLPATH:
    case MYSQL_OPT_CONNECT_ATTR_DELETE:
    case MYSQL_SERVER_PUBLIC_KEY:
    case MYSQL_OPT_TLS_VERSION:
    case MARIADB_OPT_TLS_PASSPHRASE:
    case MARIADB_OPT_TLS_VERSION:
    case MARIADB_OPT_TLS_PEER_FP:
    case MARIADB_OPT_TLS_PEER_FP_LIST:
        return 's';
    case MYSQL_OPT_CONNECT_ATTR_ADD:
        return '2';
    case MYSQL_OPT_COMPRESS:
    case MYSQL_OPT_NAMED_PIPE:
    case MYSQL_OPT_CONNECT_ATTR_RESET:
        return 'n';
    default:
        return 0;
    }
}

static void option(int outer, enum mysql_option option, const void *arg, const void *arg2)
{
    const int kind = optionKind(option);
    LINE(" %d %c", (int)option, kind ? kind : '?');
    if (!outer || !out())
        return;
    if (kind == 'i')
        fprintf(out(), " %u", arg ? *(const unsigned int *)arg : 0u);
    else if (kind == 'l')
        fprintf(out(), " %lu", arg ? *(const unsigned long *)arg : 0ul);
    else if (kind == 'b')
        fprintf(out(), " %d", arg ? *(const my_bool *)arg : 0);
    else if (kind == 's' || kind == '2')
        str(out(), arg);
    if (kind == '2')
        str(out(), arg2);
    if ((kind == 'i' || kind == 'l' || kind == 'b') && !arg)
        fputs(" -", out());
}

int STDCALL mysql_options(MYSQL *mysql, enum mysql_option opt, const void *arg)
{
    const int outer = enter();
    LINE("options %d", id(Conn, mysql));
    option(outer, opt, arg, NULL);
    const int rc = REAL(mysql_options)(mysql, opt, arg);
    LINE(" = %d", rc);
    leave(outer, 0);
    return rc;
}

int STDCALL mysql_optionsv(MYSQL *mysql, enum mysql_option opt, ...)
{
    va_list args;
    va_start(args, opt);
    const void *arg = va_arg(args, const void *);
    const void *arg2 = optionKind(opt) == '2' ? va_arg(args, const void *) : NULL;
    va_end(args);
    const int outer = enter();
    LINE("optionsv %d", id(Conn, mysql));
    option(outer, opt, arg, arg2);
    const int rc = REAL(mysql_optionsv)(mysql, opt, arg, arg2);
    LINE(" = %d", rc);
    leave(outer, 0);
    return rc;
}

MYSQL *STDCALL mysql_init(MYSQL *mysql)
{
    const int outer = enter();
    MYSQL *m = REAL(mysql_init)(mysql);
    LINE("init %d", id(Conn, m));
    leave(outer, 0);
    return m;
}

int STDCALL mysql_ssl_set(MYSQL *mysql, const char *key, const char *cert, const char *ca,
                          const char *capath, const char *cipher)
{
    const int outer = enter();
    LINE("ssl_set %d", id(Conn, mysql));
    if (outer && out()) {
        str(out(), key), str(out(), cert), str(out(), ca), str(out(), capath);
        str(out(), cipher);
    }
    const int rc = REAL(mysql_ssl_set)(mysql, key, cert, ca, capath, cipher);
    LINE(" = %d", rc);
    leave(outer, 0);
    return rc;
}

MYSQL *STDCALL mysql_real_connect(MYSQL *mysql, const char *host, const char *user,
                                  const char *passwd, const char *db, unsigned int port,
                                  const char *unix_socket, unsigned long clientflag)
{
    const int outer = enter();
    if (outer && firstNs < 0)
        firstNs = nowNs();
    LINE("connect %d", id(Conn, mysql));
    if (outer && out()) {
        str(out(), host), str(out(), user), str(out(), passwd), str(out(), db);
        fprintf(out(), " %u", port);
        str(out(), unix_socket);
        fprintf(out(), " %lu", clientflag);
        /* The CA bundle that the library loads at a TLS connect, which the program points
           away where it verifies nothing: part of the work, so the floor does the same. */
        str(out(), getenv("SSL_CERT_FILE"));
    }
    MYSQL *m =
        REAL(mysql_real_connect)(mysql, host, user, passwd, db, port, unix_socket, clientflag);
    LINE(" = %d %u", m != NULL, REAL(mysql_errno)(mysql));
    leave(outer, 1);
    return m;
}

/* A call on a connection that sends one command and reads its answer. */
#define ANSWERED(name, body)                                                                       \
    const int outer = enter();                                                                     \
    LINE(name " %d", id(Conn, mysql));                                                             \
    body;                                                                                          \
    LINE(" = %d %u", (int)rc, REAL(mysql_errno)(mysql));                                           \
    leave(outer, 1);                                                                               \
    return rc

int STDCALL mysql_real_query(MYSQL *mysql, const char *q, unsigned long length)
{
    ANSWERED("real_query", if (outer && out()) hex(out(), q, length);
             const int rc = REAL(mysql_real_query)(mysql, q, length));
}

int STDCALL mysql_query(MYSQL *mysql, const char *q)
{
    ANSWERED("query", if (outer && out()) str(out(), q);
             const int rc = REAL(mysql_query)(mysql, q));
}

int STDCALL mysql_select_db(MYSQL *mysql, const char *db)
{
    ANSWERED("select_db", if (outer && out()) str(out(), db);
             const int rc = REAL(mysql_select_db)(mysql, db));
}

int STDCALL mysql_set_character_set(MYSQL *mysql, const char *csname)
{
    ANSWERED("set_character_set", if (outer && out()) str(out(), csname);
             const int rc = REAL(mysql_set_character_set)(mysql, csname));
}

int STDCALL mysql_ping(MYSQL *mysql)
{
    ANSWERED("ping", const int rc = REAL(mysql_ping)(mysql));
}

my_bool STDCALL mysql_commit(MYSQL *mysql)
{
    ANSWERED("commit", const my_bool rc = REAL(mysql_commit)(mysql));
}

my_bool STDCALL mysql_rollback(MYSQL *mysql)
{
    ANSWERED("rollback", const my_bool rc = REAL(mysql_rollback)(mysql));
}

my_bool STDCALL mysql_autocommit(MYSQL *mysql, my_bool mode)
{
    ANSWERED("autocommit", LINE(" %d", mode);
             const my_bool rc = REAL(mysql_autocommit)(mysql, mode));
}

MYSQL_RES *STDCALL mysql_list_fields(MYSQL *mysql, const char *table, const char *wild)
{
    const int outer = enter();
    LINE("list_fields %d", id(Conn, mysql));
    if (outer && out())
        str(out(), table), str(out(), wild);
    MYSQL_RES *res = REAL(mysql_list_fields)(mysql, table, wild);
    LINE(" = %d %u", id(Res, res), REAL(mysql_errno)(mysql));
    leave(outer, 1);
    return res;
}

/* The rest of an answer that is read, not asked for. */
int STDCALL mysql_next_result(MYSQL *mysql)
{
    const int outer = enter();
    const int rc = REAL(mysql_next_result)(mysql);
    LINE("next_result %d = %d %u", id(Conn, mysql), rc, REAL(mysql_errno)(mysql));
    leave(outer, rc == 0 ? -1 : 0);
    return rc;
}

MYSQL_RES *STDCALL mysql_store_result(MYSQL *mysql)
{
    const int outer = enter();
    MYSQL_RES *res = REAL(mysql_store_result)(mysql);
    LINE("store_result %d =", id(Conn, mysql));
    if (outer && out()) {
        if (res)
            fprintf(out(), " %d %u %llu %016llx", id(Res, res), REAL(mysql_num_fields)(res),
                    (unsigned long long)REAL(mysql_num_rows)(res),
                    (unsigned long long)digestRows(res));
        else
            fprintf(out(), " - %u %llu", REAL(mysql_errno)(mysql),
                    (unsigned long long)REAL(mysql_affected_rows)(mysql));
    }
    leave(outer, res ? -1 : 0);
    return res;
}

void STDCALL mysql_free_result(MYSQL_RES *res)
{
    const int outer = enter();
    LINE("free_result %d", id(Res, res));
    forget(Res, res);
    REAL(mysql_free_result)(res);
    leave(outer, 0);
}

void STDCALL mysql_close(MYSQL *mysql)
{
    const int outer = enter();
    LINE("close %d", id(Conn, mysql));
    forget(Conn, mysql);
    REAL(mysql_close)(mysql);
    leave(outer, 0);
}

MYSQL_STMT *STDCALL mysql_stmt_init(MYSQL *mysql)
{
    const int outer = enter();
    MYSQL_STMT *stmt = REAL(mysql_stmt_init)(mysql);
    LINE("stmt_init %d = %d", id(Conn, mysql), id(Stmt, stmt));
    leave(outer, 0);
    return stmt;
}

#define STMT_ANSWERED(name, body, answer)                                                          \
    const int outer = enter();                                                                     \
    LINE(name " %d", id(Stmt, stmt));                                                              \
    body;                                                                                          \
    LINE(" = %d %u", (int)rc, REAL(mysql_stmt_errno)(stmt));                                       \
    answer;                                                                                        \
    leave(outer, 1);                                                                               \
    return rc

int STDCALL mysql_stmt_prepare(MYSQL_STMT *stmt, const char *q, unsigned long length)
{
    STMT_ANSWERED("stmt_prepare", if (outer && out()) hex(out(), q, length);
                  const int rc = REAL(mysql_stmt_prepare)(stmt, q, length),
                  LINE(" %lu", REAL(mysql_stmt_param_count)(stmt)));
}

/* Bound values are read when the statement runs, as the library reads them. */
static MYSQL_BIND *boundParams[256];

my_bool STDCALL mysql_stmt_bind_param(MYSQL_STMT *stmt, MYSQL_BIND *bind)
{
    const int outer = enter();
    const int s = id(Stmt, stmt);
    if (s < 256)
        boundParams[s] = bind;
    const my_bool rc = REAL(mysql_stmt_bind_param)(stmt, bind);
    LINE("stmt_bind_param %d = %d", s, rc);
    leave(outer, 0);
    return rc;
}

static unsigned long fixedSize(enum enum_field_types type)
{
    switch (type) {
    case MYSQL_TYPE_TINY:
        return 1;
    case MYSQL_TYPE_SHORT:
    case MYSQL_TYPE_YEAR:
        return 2;
    case MYSQL_TYPE_LONG:
    case MYSQL_TYPE_INT24:
    case MYSQL_TYPE_FLOAT:
        return 4;
    case MYSQL_TYPE_LONGLONG:
    case MYSQL_TYPE_DOUBLE:
        return 8;
    case MYSQL_TYPE_TIME:
    case MYSQL_TYPE_DATE:
    case MYSQL_TYPE_DATETIME:
    case MYSQL_TYPE_TIMESTAMP:
        return sizeof(MYSQL_TIME);
    case MYSQL_TYPE_NULL:
        return 0;
    default:
        return (unsigned long)-1;
    }
}

int STDCALL mysql_stmt_execute(MYSQL_STMT *stmt)
{
    STMT_ANSWERED(
        "stmt_execute",
        {
            const int s = id(Stmt, stmt);
            const unsigned long n = REAL(mysql_stmt_param_count)(stmt);
            LINE(" %lu", n);
            for (unsigned long i = 0; outer && out() && i < n && s < 256 && boundParams[s]; ++i) {
                const MYSQL_BIND *b = &boundParams[s][i];
                const int isNull = b->is_null ? *b->is_null : 0;
                unsigned long size = fixedSize(b->buffer_type);
                if (size == (unsigned long)-1)
                    size = b->length ? *b->length : b->buffer_length;
                fprintf(out(), " %d %d %d", (int)b->buffer_type, (int)b->is_unsigned, isNull);
                hex(out(), isNull ? NULL : b->buffer, isNull ? 0 : size);
            }
        } const int rc = REAL(mysql_stmt_execute)(stmt),
        LINE(" %llu %u", (unsigned long long)REAL(mysql_stmt_affected_rows)(stmt),
             REAL(mysql_stmt_field_count)(stmt)));
}

int STDCALL mysql_stmt_store_result(MYSQL_STMT *stmt)
{
    const int outer = enter();
    const int rc = REAL(mysql_stmt_store_result)(stmt);
    LINE("stmt_store_result %d = %d %llu", id(Stmt, stmt), rc,
         (unsigned long long)REAL(mysql_stmt_num_rows)(stmt));
    leave(outer, -1);
    return rc;
}

my_bool STDCALL mysql_stmt_reset(MYSQL_STMT *stmt)
{
    STMT_ANSWERED("stmt_reset", const my_bool rc = REAL(mysql_stmt_reset)(stmt), );
}

my_bool STDCALL mysql_stmt_attr_set(MYSQL_STMT *stmt, enum enum_stmt_attr_type attr,
                                    const void *value)
{
    const int outer = enter();
    unsigned long v = 0;
    if (value)
        v = attr == STMT_ATTR_UPDATE_MAX_LENGTH ? (unsigned long)*(const my_bool *)value
                                                : *(const unsigned long *)value;
    const my_bool rc = REAL(mysql_stmt_attr_set)(stmt, attr, value);
    LINE("stmt_attr_set %d %d %lu = %d", id(Stmt, stmt), (int)attr, v, rc);
    leave(outer, 0);
    return rc;
}

my_bool STDCALL mysql_stmt_free_result(MYSQL_STMT *stmt)
{
    const int outer = enter();
    const my_bool rc = REAL(mysql_stmt_free_result)(stmt);
    LINE("stmt_free_result %d = %d", id(Stmt, stmt), rc);
    leave(outer, 0);
    return rc;
}

my_bool STDCALL mysql_stmt_close(MYSQL_STMT *stmt)
{
    const int outer = enter();
    LINE("stmt_close %d", id(Stmt, stmt));
    const int s = id(Stmt, stmt);
    if (s < 256)
        boundParams[s] = NULL;
    forget(Stmt, stmt);
    const my_bool rc = REAL(mysql_stmt_close)(stmt);
    leave(outer, 0);
    return rc;
}

__attribute__((destructor)) static void writeTimes(void)
{
    const char *path = getenv("QUORVO_WIRE_TIMES");
    FILE *f = path && *path && firstNs >= 0 ? fopen(path, "a") : NULL;
    if (f) {
        fprintf(f, "%lld %lld %lld\n", firstNs, lastNs, commands);
        fclose(f);
    }
    if (trace)
        fclose(trace);
}
