/* Not a test: the floor that scripts/bench.sh times the program against. Does the calls of a
 * file that wiretrace.c wrote, in their order, through the same client library and nothing
 * else: the same connect options and TLS settings, statements, prepared statements and bound
 * values. The answers are read as the library needs them and not looked at; the benchmark
 * checks them by tracing this process as well.
 *
 *   quorvo-bench-replay TRACE */
#include <mysql.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

enum { MaxTokens = 64, MaxObjects = 256 };

struct Line
{
    int count;
    char *tokens[MaxTokens];
    unsigned long lengths[MaxTokens]; /* of the decoded strings */
    int answer;                       /* the first token of the answer, after "=" */
    MYSQL_BIND *binds;                /* stmt_bind_param: the values of its execute */
};

static void fail(const char *what, const char *detail)
{
    fprintf(stderr, "quorvo-bench-replay: %s: %s\n", what, detail);
    exit(2);
}

/* Hex to bytes in place; "-" is none, "." the empty string. */
static char *decode(char *token, unsigned long *length)
{
    *length = 0;
    if (strcmp(token, "-") == 0)
        return NULL;
    if (strcmp(token, ".") == 0) {
        token[0] = '\0';
        return token;
    }
    const size_t n = strlen(token) / 2;
    for (size_t i = 0; i < n; ++i) {
        unsigned int byte;
        if (sscanf(token + 2 * i, "%2x", &byte) != 1)
            fail("not hex", token);
        token[i] = (char)byte;
    }
    token[n] = '\0';
    *length = n;
    return token;
}

static const char *arg(const struct Line *line, int i)
{
    if (i >= line->count)
        fail("a line too short", line->tokens[0]);
    return line->tokens[i];
}
static int num(const struct Line *line, int i)
{
    return atoi(arg(line, i));
}

/* The strings of a line: everything that the tracer wrote as hex. */
static void decodeStrings(struct Line *line, int from, int to)
{
    for (int i = from; i < to && i < line->count; ++i)
        line->tokens[i] = decode(line->tokens[i], &line->lengths[i]);
}

/* The index of the token after "=", where the answer begins. */
static int answerAt(const struct Line *line)
{
    for (int i = 1; i < line->count; ++i)
        if (strcmp(line->tokens[i], "=") == 0)
            return i + 1;
    return line->count;
}

static void prepareLine(struct Line *lines, int index, int total)
{
    struct Line *line = &lines[index];
    const char *op = line->tokens[0];
    line->answer = answerAt(line);
    const int end = line->answer - 1;
    if (strcmp(op, "options") == 0 || strcmp(op, "optionsv") == 0) {
        const char kind = line->tokens[3][0];
        if (kind == '?')
            fail("an option of a kind the tracer does not know", line->tokens[2]);
        if (kind == 's' || kind == '2')
            decodeStrings(line, 4, end);
    } else if (strcmp(op, "ssl_set") == 0 || strcmp(op, "real_query") == 0 ||
               strcmp(op, "query") == 0 || strcmp(op, "select_db") == 0 ||
               strcmp(op, "set_character_set") == 0 || strcmp(op, "stmt_prepare") == 0 ||
               strcmp(op, "list_fields") == 0) {
        decodeStrings(line, 2, end);
    } else if (strcmp(op, "connect") == 0) {
        decodeStrings(line, 2, 6);
        decodeStrings(line, 7, 8);
        decodeStrings(line, 9, 10);
    } else if (strcmp(op, "stmt_bind_param") == 0) {
        /* The values are those of the statement's next execute. */
        const char *stmt = line->tokens[1];
        for (int j = index + 1; j < total; ++j) {
            struct Line *exec = &lines[j];
            if (strcmp(exec->tokens[0], "stmt_execute") != 0 || strcmp(exec->tokens[1], stmt))
                continue;
            const int n = atoi(exec->tokens[2]);
            line->binds = calloc(n ? n : 1, sizeof(MYSQL_BIND));
            for (int p = 0; p < n; ++p) {
                MYSQL_BIND *b = &line->binds[p];
                const int at = 3 + 4 * p;
                if (at + 3 >= exec->count)
                    fail("an execute without its values", stmt);
                b->buffer_type = (enum enum_field_types)atoi(exec->tokens[at]);
                b->is_unsigned = (my_bool)atoi(exec->tokens[at + 1]);
                b->is_null_value = (my_bool)atoi(exec->tokens[at + 2]);
                unsigned long length;
                char *copy = strdup(exec->tokens[at + 3]);
                b->buffer = decode(copy, &length);
                b->buffer_length = length;
                b->length_value = length;
                b->length = &b->length_value;
                b->is_null = &b->is_null_value;
            }
            break;
        }
        if (!line->binds)
            fail("values bound for no execute", stmt);
    }
}

int main(int argc, char *argv[])
{
    if (argc != 2)
        fail("usage", "quorvo-bench-replay TRACE");
    FILE *file = fopen(argv[1], "r");
    if (!file)
        fail("cannot read", argv[1]);
    fseek(file, 0, SEEK_END);
    const long size = ftell(file);
    rewind(file);
    char *text = malloc(size + 1);
    if (fread(text, 1, size, file) != (size_t)size)
        fail("cannot read", argv[1]);
    text[size] = '\0';
    fclose(file);

    int total = 0;
    for (long i = 0; i < size; ++i)
        total += text[i] == '\n';
    struct Line *lines = calloc(total + 1, sizeof(struct Line));
    int count = 0;
    for (char *save = NULL, *row = strtok_r(text, "\n", &save); row;
         row = strtok_r(NULL, "\n", &save)) {
        struct Line *line = &lines[count++];
        for (char *s2 = NULL, *token = strtok_r(row, " ", &s2); token;
             token = strtok_r(NULL, " ", &s2)) {
            if (line->count == MaxTokens)
                fail("a line too long", row);
            line->tokens[line->count++] = token;
        }
    }
    for (int i = 0; i < count; ++i)
        prepareLine(lines, i, count);

    MYSQL *conns[MaxObjects] = {0};
    MYSQL_STMT *stmts[MaxObjects] = {0};
    MYSQL_RES *results[MaxObjects] = {0};
    for (int i = 0; i < count; ++i) {
        const struct Line *line = &lines[i];
        char *const *t = line->tokens;
        const char *op = t[0];
        const int o = num(line, 1) % MaxObjects;
        const int answer = line->answer;
        MYSQL *m = conns[o];
        MYSQL_STMT *s = stmts[o];
        if (strcmp(op, "init") == 0) {
            conns[o] = mysql_init(NULL);
        } else if (strcmp(op, "options") == 0 || strcmp(op, "optionsv") == 0) {
            const enum mysql_option option = (enum mysql_option)num(line, 2);
            const char kind = t[3][0];
            unsigned int i32 = 0;
            unsigned long i64 = 0;
            my_bool b = 0;
            const void *value = NULL, *value2 = NULL;
            if (kind == 'i' && strcmp(t[4], "-") != 0)
                i32 = (unsigned int)strtoul(t[4], NULL, 10), value = &i32;
            else if (kind == 'l' && strcmp(t[4], "-") != 0)
                i64 = strtoul(t[4], NULL, 10), value = &i64;
            else if (kind == 'b' && strcmp(t[4], "-") != 0)
                b = (my_bool)atoi(t[4]), value = &b;
            else if (kind == 's' || kind == '2')
                value = t[4];
            if (kind == '2')
                value2 = t[5];
            if (op[7] == 'v')
                mysql_optionsv(m, option, value, value2);
            else
                mysql_options(m, option, value);
        } else if (strcmp(op, "ssl_set") == 0) {
            mysql_ssl_set(m, t[2], t[3], t[4], t[5], t[6]);
        } else if (strcmp(op, "connect") == 0) {
            if (t[9])
                setenv("SSL_CERT_FILE", t[9], 1);
            else
                unsetenv("SSL_CERT_FILE");
            mysql_real_connect(m, t[2], t[3], t[4], t[5], (unsigned int)num(line, 6), t[7],
                               strtoul(t[8], NULL, 10));
        } else if (strcmp(op, "real_query") == 0) {
            mysql_real_query(m, t[2], line->lengths[2]);
        } else if (strcmp(op, "query") == 0) {
            mysql_query(m, t[2]);
        } else if (strcmp(op, "select_db") == 0) {
            mysql_select_db(m, t[2]);
        } else if (strcmp(op, "set_character_set") == 0) {
            mysql_set_character_set(m, t[2]);
        } else if (strcmp(op, "ping") == 0) {
            mysql_ping(m);
        } else if (strcmp(op, "commit") == 0) {
            mysql_commit(m);
        } else if (strcmp(op, "rollback") == 0) {
            mysql_rollback(m);
        } else if (strcmp(op, "autocommit") == 0) {
            mysql_autocommit(m, (my_bool)num(line, 2));
        } else if (strcmp(op, "list_fields") == 0) {
            results[num(line, answer) % MaxObjects] = mysql_list_fields(m, t[2], t[3]);
        } else if (strcmp(op, "next_result") == 0) {
            mysql_next_result(m);
        } else if (strcmp(op, "store_result") == 0) {
            MYSQL_RES *res = mysql_store_result(m);
            if (strcmp(t[answer], "-") != 0)
                results[num(line, answer) % MaxObjects] = res;
            else if (res)
                mysql_free_result(res);
        } else if (strcmp(op, "free_result") == 0) {
            mysql_free_result(results[o]);
            results[o] = NULL;
        } else if (strcmp(op, "close") == 0) {
            mysql_close(m);
            conns[o] = NULL;
        } else if (strcmp(op, "stmt_init") == 0) {
            stmts[num(line, answer) % MaxObjects] = mysql_stmt_init(m);
        } else if (strcmp(op, "stmt_prepare") == 0) {
            mysql_stmt_prepare(s, t[2], line->lengths[2]);
        } else if (strcmp(op, "stmt_attr_set") == 0) {
            const enum enum_stmt_attr_type attr = (enum enum_stmt_attr_type)num(line, 2);
            my_bool b = (my_bool)num(line, 3);
            unsigned long v = strtoul(t[3], NULL, 10);
            mysql_stmt_attr_set(s, attr,
                                attr == STMT_ATTR_UPDATE_MAX_LENGTH ? (void *)&b : (void *)&v);
        } else if (strcmp(op, "stmt_bind_param") == 0) {
            mysql_stmt_bind_param(s, line->binds);
        } else if (strcmp(op, "stmt_execute") == 0) {
            mysql_stmt_execute(s);
        } else if (strcmp(op, "stmt_store_result") == 0) {
            mysql_stmt_store_result(s);
        } else if (strcmp(op, "stmt_reset") == 0) {
            mysql_stmt_reset(s);
        } else if (strcmp(op, "stmt_free_result") == 0) {
            mysql_stmt_free_result(s);
        } else if (strcmp(op, "stmt_close") == 0) {
            mysql_stmt_close(s);
            stmts[o] = NULL;
        } else {
            fail("a call it cannot make", op);
        }
    }
    return 0;
}
