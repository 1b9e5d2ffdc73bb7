// The main of the distributed solver's tests: MPI around GoogleTest, the
// report from rank 0 alone (every check is summed over the ranks, so all
// ranks pass or fail together), and the worst exit code of any rank.
#include <gtest/gtest.h>

#include "pband/pband_mpi.h"

int main(int argc, char** argv) {
  MPI_Init(&argc, &argv);
  ::testing::InitGoogleTest(&argc, argv);
  int rank = 0;
  MPI_Comm_rank(MPI_COMM_WORLD, &rank);
  if (rank != 0) {
    auto& listeners = ::testing::UnitTest::GetInstance()->listeners();
    delete listeners.Release(listeners.default_result_printer());
  }
  int result = RUN_ALL_TESTS();
  MPI_Allreduce(MPI_IN_PLACE, &result, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD);
  MPI_Finalize();
  return result;
}
