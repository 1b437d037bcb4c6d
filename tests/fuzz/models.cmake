# The 3D notifier's model files (DirectX .x, read through Assimp).
postwatch_add_fuzzer(model_fuzz
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/model_fuzz.cpp
    LINK pw_modelloader
    CORPUS ${CMAKE_CURRENT_LIST_DIR}/corpus/model_fuzz)
