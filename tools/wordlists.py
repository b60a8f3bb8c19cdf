#!/usr/bin/env python3
"""Derives the word game's word lists from the system's Debian word lists.

    wordlists.py OUTPUT_DIR AMERICAN_ENGLISH NGERMAN RU_RU_DIC RU_RU_AFF

Writes english.txt, russian.txt and german.txt into OUTPUT_DIR: lower-case
words made only of the language's letters, UTF-8 without a byte-order mark,
one a line, sorted, each word once. The game compares these words with the
lower-cased letters of its columns, so anything else could never be found.
"""
import os
import sys

ENGLISH = set("abcdefghijklmnopqrstuvwxyz")
GERMAN = ENGLISH | set("äöüß")
RUSSIAN = set("абвгдежзийклмнопрстуфхцчшщъыьэюяё")


def english_words(path):
    # Capitalised entries are names and abbreviations, "'s" entries possessives:
    # both are dropped, not folded into other words.
    with open(path, encoding="utf-8") as f:
        for line in f:
            word = line.strip()
            if word and set(word) <= ENGLISH:
                yield word


def german_words(path):
    # German capitalises every noun, so the list is lower-cased, not filtered.
    with open(path, encoding="utf-8") as f:
        for line in f:
            word = line.strip().lower()
            if word and set(word) <= GERMAN:
                yield word


def hunspell_encoding(aff_path):
    # The .aff file's SET line names the encoding of the .dic beside it.
    with open(aff_path, "rb") as f:
        for raw in f:
            if raw.startswith(b"SET "):
                return raw[4:].strip().decode("ascii")
    return "ISO8859-1"


def russian_words(dic_path, aff_path):
    # Stems with "/flags"; the first line is the entry count. Capitalised
    # stems are names and are dropped.
    with open(dic_path, encoding=hunspell_encoding(aff_path)) as f:
        next(f, None)
        for line in f:
            word = line.strip().split("/", 1)[0].strip()
            if word and set(word) <= RUSSIAN:
                yield word


def write_list(path, words):
    # Written beside the target and renamed, so a stopped build never leaves
    # half a list behind.
    temporary = path + ".tmp"
    with open(temporary, "w", encoding="utf-8", newline="\n") as f:
        for word in sorted(set(words)):
            f.write(word + "\n")
    os.replace(temporary, path)


def main(argv):
    if len(argv) != 6:
        sys.exit(__doc__)
    out, american, ngerman, ru_dic, ru_aff = argv[1:]
    os.makedirs(out, exist_ok=True)
    write_list(os.path.join(out, "english.txt"), english_words(american))
    write_list(os.path.join(out, "russian.txt"), russian_words(ru_dic, ru_aff))
    write_list(os.path.join(out, "german.txt"), german_words(ngerman))


if __name__ == "__main__":
    main(sys.argv)
