/* The least any tool pays to split a file into many files, for bench/run:
 * the sizes of the pieces are known beforehand, so nothing is looked at.
 * Each piece is read whole from the input, then written to a new file
 * p000000, p000001, ... in the current folder: open, one write, close.
 *
 *   create_floor INPUT SIZES      SIZES: a text file, one piece size per line
 *
 * bench/run compiles it with cc -O2 into its temporary folder. */
#define _POSIX_C_SOURCE 200809L
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

static void die(const char *what, const char *name) {
    fprintf(stderr, "create_floor: %s %s: %s\n", what, name, strerror(errno));
    exit(1);
}

/* Reads the sizes; returns their count and sets *largest. */
static size_t read_sizes(const char *path, size_t **sizes, size_t *largest) {
    FILE *list = fopen(path, "r");
    if (!list) die("cannot open", path);
    size_t count = 0, capacity = 0;
    unsigned long long size;
    *sizes = NULL;
    *largest = 0;
    while (fscanf(list, "%llu", &size) == 1) {
        if (count == capacity) {
            capacity = capacity ? 2 * capacity : 1024;
            *sizes = realloc(*sizes, capacity * sizeof **sizes);
            if (!*sizes) die("out of memory reading", path);
        }
        (*sizes)[count++] = (size_t)size;
        if (size > *largest) *largest = (size_t)size;
    }
    if (ferror(list) || !feof(list)) {
        fprintf(stderr, "create_floor: %s: not a list of sizes\n", path);
        exit(1);
    }
    fclose(list);
    return count;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: create_floor INPUT SIZES\n");
        return 2;
    }
    size_t *sizes, largest;
    size_t count = read_sizes(argv[2], &sizes, &largest);
    char *buffer = malloc(largest ? largest : 1);
    if (!buffer) die("out of memory for a piece of", argv[1]);
    int in = open(argv[1], O_RDONLY | O_CLOEXEC);
    if (in < 0) die("cannot open", argv[1]);

    for (size_t i = 0; i < count; i++) {
        for (size_t got = 0; got < sizes[i];) {
            ssize_t n = read(in, buffer + got, sizes[i] - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) die("cannot read", argv[1]);
            if (n == 0) {
                fprintf(stderr, "create_floor: %s ends before piece %zu\n", argv[1], i);
                return 1;
            }
            got += (size_t)n;
        }
        char name[32];
        snprintf(name, sizeof name, "p%06zu", i);
        int out = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (out < 0) die("cannot create", name);
        /* One write: a regular file takes the whole piece at once. */
        ssize_t written = write(out, buffer, sizes[i]);
        if (written < 0) die("cannot write", name);
        if ((size_t)written != sizes[i]) {
            fprintf(stderr, "create_floor: short write to %s\n", name);
            return 1;
        }
        if (close(out) != 0) die("cannot close", name);
    }
    close(in);
    free(buffer);
    free(sizes);
    return 0;
}
