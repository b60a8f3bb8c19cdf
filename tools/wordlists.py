#!/usr/bin/env python3
"""Derives the word game's word lists from the system's Debian word lists.

    wordlists.py OUTPUT_DIR AMERICAN_ENGLISH AMERICAN_ENGLISH_SMALL NGERMAN
                 RU_RU_DIC RU_RU_AFF

Writes english.txt, russian.txt and german.txt into OUTPUT_DIR: lower-case
words made only of the language's letters, UTF-8 without a byte-order mark,
one a line, sorted, each word once. The game compares these words with the
lower-cased letters of its columns, so anything else could never be found.

Only words a player would accept go in: the round word and the bonus words
are drawn from the short ones, and the sources' short entries are full of
abbreviations, units and numerals. So every word needs a vowel of its
language (kg, cm, гл, км), all-capital and mixed-case entries are dropped as
abbreviations (BH, CDU, GmbH, kWh), English words of up to four letters must
also be in the small list of common words, and Roman numerals (iv, xx) and
the few short German and Russian entries that pass all of that without
being words (usw, ул, names) are left out by name.
"""
import os
import re
import sys

ENGLISH = set("abcdefghijklmnopqrstuvwxyz")
GERMAN = ENGLISH | set("äöüß")
RUSSIAN = set("абвгдежзийклмнопрстуфхцчшщъыьэюяё")

ENGLISH_VOWELS = set("aeiouy")
GERMAN_VOWELS = set("aeiouyäöü")
RUSSIAN_VOWELS = set("аеёиоуыэюя")

# The full English list holds short abbreviations in lower case (cf, qt, mpg,
# assn, blvd); the small list, of common words, hardly any. The round words
# and bonus words come from words of up to this length.
COMMON_LENGTH = 4

ROMAN_NUMERAL = re.compile(r"m{0,3}(cm|cd|d?c{0,3})(xc|xl|l?x{0,3})(ix|iv|v?i{0,3})")
ROMAN_LOOKALIKES = {"mix"}  # numerals that are also words

# Short entries that pass every rule above and are still no word a player
# would accept: abbreviations written in lower case or capitalised like
# nouns, unit symbols, brand, given and place names, pieces of foreign phrases
# or of hyphenated words that never stand alone, and a slur.
NOT_WORDS = {
    "german": set("""
        ad ca co de eo et fa sa
        abb abk abs anm anz atü aug bde bes bez dez div dpi dto ecu esc etc ext
        feb geb gem ing jan jul max med min mio nov okt pos sek tel usw zus
        ada alf bea ben don dow eli eva jim joy liz mac mao pan rio rom sam san
        sao sri sun tim tom ude udo ulm ems nil uta ute uwe wim new
        cum hoc mux peu spe xon
    """.split()),
    "russian": set("""
        ат га ед ул уч
        абс авт арх асс атм бэр вып гиф гос деп доб доп доц евр зак зап зач изв
        изд илл инв инд инж исп ист исх каб лаб мес наб наз нац нач нед ниж
        обл окр орг осн отв отд отл пед пом пос поч ред реж реф соц соч сут
        сущ теч тов тыс укр упр усл физ фил фин хим хоз чел экв экз экс
        зил кво нью ноу тет уик хау юго
        жид
    """.split()),
}


def has_vowel(word, vowels):
    return not vowels.isdisjoint(word)


def lower_or_capitalised(entry):
    # An entry with a capital after its first letter is an abbreviation or a
    # unit (BH, CDU, GmbH, kWh, dB), whatever else it could be read as.
    return entry[1:] == entry[1:].lower()


def plain_lines(path, encoding="utf-8"):
    with open(path, encoding=encoding) as f:
        for line in f:
            entry = line.strip()
            if entry:
                yield entry


def english_words(path, common_path):
    # Capitalised entries are names and abbreviations, "'s" entries
    # possessives: both are dropped, not folded into other words.
    common = set(plain_lines(common_path))
    for word in plain_lines(path):
        if not set(word) <= ENGLISH or not has_vowel(word, ENGLISH_VOWELS):
            continue
        if len(word) <= COMMON_LENGTH and word not in common:
            continue
        if not ROMAN_NUMERAL.fullmatch(word) or word in ROMAN_LOOKALIKES:
            yield word


def german_words(path):
    # German capitalises every noun, so capitalised entries are lower-cased,
    # not dropped.
    for entry in plain_lines(path):
        word = entry.lower()
        if (set(word) <= GERMAN and lower_or_capitalised(entry) and has_vowel(word, GERMAN_VOWELS)
                and word not in NOT_WORDS["german"]):
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
    # stems are names, all-capital ones abbreviations: both are dropped.
    lines = plain_lines(dic_path, hunspell_encoding(aff_path))
    next(lines, None)
    for line in lines:
        word = line.split("/", 1)[0].strip()
        if (word and set(word) <= RUSSIAN and has_vowel(word, RUSSIAN_VOWELS)
                and word not in NOT_WORDS["russian"]):
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
    if len(argv) != 7:
        sys.exit(__doc__)
    out, american, american_small, ngerman, ru_dic, ru_aff = argv[1:]
    os.makedirs(out, exist_ok=True)
    write_list(os.path.join(out, "english.txt"), english_words(american, american_small))
    write_list(os.path.join(out, "russian.txt"), russian_words(ru_dic, ru_aff))
    write_list(os.path.join(out, "german.txt"), german_words(ngerman))


if __name__ == "__main__":
    main(sys.argv)
