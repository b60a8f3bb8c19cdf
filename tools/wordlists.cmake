# The word game's lists, derived from the Debian word lists (wamerican and,
# for the common short words, wamerican-small; wngerman, hunspell-ru) into
# dictionary/ of the run directory. Included from tools/CMakeLists.txt after
# the run directory's target exists.
find_package(Python3 REQUIRED COMPONENTS Interpreter)
find_file(WORDS_AMERICAN american-english PATHS /usr/share/dict REQUIRED NO_DEFAULT_PATH)
find_file(WORDS_AMERICAN_SMALL american-english-small PATHS /usr/share/dict REQUIRED NO_DEFAULT_PATH)
find_file(WORDS_NGERMAN ngerman PATHS /usr/share/dict REQUIRED NO_DEFAULT_PATH)
find_file(WORDS_RUSSIAN_DIC ru_RU.dic PATHS /usr/share/hunspell REQUIRED NO_DEFAULT_PATH)
find_file(WORDS_RUSSIAN_AFF ru_RU.aff PATHS /usr/share/hunspell REQUIRED NO_DEFAULT_PATH)

set(WORDLIST_OUTPUTS ${RUN}/dictionary/english.txt ${RUN}/dictionary/russian.txt
  ${RUN}/dictionary/german.txt)
add_custom_command(OUTPUT ${WORDLIST_OUTPUTS}
  COMMAND Python3::Interpreter ${CMAKE_CURRENT_LIST_DIR}/wordlists.py ${RUN}/dictionary
    ${WORDS_AMERICAN} ${WORDS_AMERICAN_SMALL} ${WORDS_NGERMAN} ${WORDS_RUSSIAN_DIC} ${WORDS_RUSSIAN_AFF}
  DEPENDS ${CMAKE_CURRENT_LIST_DIR}/wordlists.py ${WORDS_AMERICAN} ${WORDS_AMERICAN_SMALL} ${WORDS_NGERMAN}
    ${WORDS_RUSSIAN_DIC} ${WORDS_RUSSIAN_AFF}
  COMMENT "Deriving the word game's word lists")
add_custom_target(word_lists DEPENDS ${WORDLIST_OUTPUTS})
add_dependencies(run_directory word_lists)
