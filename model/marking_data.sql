-- Example initial marking of the "Data" places of the net "workflow".
--
-- Marking 1 in the marking-database layout: the table markings names it,
-- 1_places lists its places (ids 1, 2, ... ), 1_tokens_data has one row per
-- token (its id, the row of 1_objects_data with its attribute values, the row
-- of 1_places with its place) and 1_objects_data holds the attribute values
-- n, s, l, gt, d, ood, tl, gl. The column types are those the database class
-- gives these attributes when it creates a marking on MariaDB.
--
-- Load it with scripts/load_marking.sh. Running it again replaces the marking.
-- The last place, Archive_in, is not a place of the net: the program reports
-- its token and leaves it out.

DROP TABLE IF EXISTS markings;
DROP TABLE IF EXISTS 1_places;
DROP TABLE IF EXISTS 1_tokens_data;
DROP TABLE IF EXISTS 1_objects_data;

CREATE TABLE markings (id int not null, name long varchar, primary key (id));
CREATE TABLE 1_places (id int not null, name long varchar, primary key (id));
CREATE TABLE 1_tokens_data (id int not null, object_id int, place_id int, primary key (id));
CREATE TABLE 1_objects_data (id int not null, primary key (id), n LONG VARCHAR, s INTEGER, l INTEGER,
  gt DATETIME, d BIT, ood BIT, tl INTEGER, gl INTEGER);

INSERT INTO markings (id, name) values(1, "workflow example");

INSERT INTO 1_places (id, name) values
  (1, "C1_executed"), (2, "C1_main"), (3, "C1_in_1"), (4, "C1_out1"), (5, "C1_out2"),
  (6, "S_executed"), (7, "S_out1"), (8, "A_executed"), (9, "A_in_1"), (10, "A_in_1_1"),
  (11, "A_in_2_1"), (12, "P_In_executed"), (13, "P_In_out1"), (14, "P_Out_executed"), (15, "P_Out_in_1"),
  (16, "P_executed"), (17, "P_main"), (18, "P_in_1"), (19, "P_in_2"), (20, "P_out1"),
  (21, "P_out2"), (22, "S1_executed"), (23, "S1_out1"), (24, "S2_executed"), (25, "S2_out1"),
  (26, "Act1_executed"), (27, "Act1_in_1"), (28, "Act2_executed"), (29, "Act2_in_1"), (30, "S3_executed"),
  (31, "S3_out1"), (32, "A3_executed"), (33, "A3_in_1"), (34, "Binary_executed"), (35, "Binary_in_1"),
  (36, "Binary_out1"), (37, "Binary_in_data"), (38, "Binary_data_gen"), (39, "Binary_ct"), (40, "Binary_cf"),
  (41, "Binary_tp"), (42, "Binary_fn"), (43, "Binary_tn"), (44, "Binary_fp"), (45, "Archive_in");

INSERT INTO 1_objects_data (id, n, s, l, gt, d, ood, tl, gl) values
  (1, "order-1001", 1, 3, '2024-03-01 08:00:00', 0, 0, 0, 0),
  (2, "order-1002", 2, 5, '2024-03-01 08:15:00', 1, 0, 0, 1),
  (3, "invoice-17", 1, 2, '2024-03-01 09:30:00', 0, 0, 1, 1),
  (4, "invoice-18", 3, 1, '2024-03-02 10:45:30', 0, 0, 2, 1),
  (5, "sample-a", 4, 8, '2024-03-02 11:00:00', 0, 1, 1, 2),
  (6, "part-x", 0, 4, '2024-03-03 12:00:00', 1, 0, 0, 0),
  (7, "part-y", 0, 6, '2024-03-03 12:05:00', 1, 0, 0, 0),
  (8, "request-9", 5, 7, '2024-03-04 16:20:10', 0, 0, 0, 3),
  (9, "stray", 0, 0, '2024-03-05 00:00:00', 0, 0, 0, 0);

-- (token id, object id, place id)
INSERT INTO 1_tokens_data (id, object_id, place_id) values
  (1, 1, 7),     -- S_out1
  (2, 2, 18),    -- P_in_1
  (3, 3, 19),    -- P_in_2
  (4, 4, 35),    -- Binary_in_1
  (5, 5, 35),    -- Binary_in_1
  (6, 6, 10),    -- A_in_1_1
  (7, 7, 11),    -- A_in_2_1
  (8, 8, 3),     -- C1_in_1
  (9, 9, 45);    -- Archive_in, no place of the net
