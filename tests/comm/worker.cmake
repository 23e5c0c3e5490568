# Tests of the message-queue threads, the window's logic and the worker.
tq_add_test(worker_tests comm SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/MsgThreadTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/DlgLogicTest.cpp
  ${CMAKE_CURRENT_LIST_DIR}/WorkerTest.cpp
  LIBS tq_worker tq_app tq_msg)
